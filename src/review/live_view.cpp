#include "live_view.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <map>
#include <utility>

#include "platform/code_page.h"
#include "record_parser.h"
#include "review_command.h"
#include "review_text.h"
#include "set_lines.h"
#include "stretch_splitter.h"

namespace review {
namespace {

const QString kMasterFile = QStringLiteral("masterFile.txt");
// A record read before its index entry waits this long for it, then goes by the file's order.
constexpr int kIndexGraceSeconds = 10;
constexpr int kLooksPerPoll = 64; // of 4 MB each: a master file of 256 MB is read in one poll
constexpr qsizetype kShownLine = 80;
constexpr qsizetype kAnswerKept = 61; // bytes of an answer kept for the summary per line
constexpr int kIndexNotesShown = 10;
constexpr int kSecondsPerDay = 24 * 60 * 60;

QByteArray headerKey(qint64 offset)
{
    return 'h' + QByteArray::number(offset);
}

QString firstLineOf(QByteArrayView line)
{
    QString text = codepage::decode(line.toByteArray());
    const qsizetype end = text.indexOf(u'\r');
    if (end >= 0)
        text.truncate(end);
    text = text.trimmed();
    return text.size() > kShownLine ? text.left(kShownLine - 1) + u'…' : text;
}

QString sinceText(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar(u'0'));
    return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60, 2, 10, QChar(u'0'));
}

void appendText(QByteArray& out, const QString& text)
{
    appendHtml(out, text.toUtf8());
}

int secondsOfDay(const QByteArray& time)
{
    return QTime(0, 0).secsTo(QTime::fromString(QString::fromLatin1(time), u"hh:mm:ss"));
}

const char kPageStyle[] = R"(<style>
body { font: 15px/1.4 "DejaVu Sans", "Liberation Sans", sans-serif; margin: 1.2em; color: #222; }
h1 { font-size: 1.3em; margin: 0 0 .2em; }
p.meta { color: #555; margin: .2em 0 .8em; }
p.away { background: #fdd; color: #800; padding: .4em .6em; border-radius: .3em; }
table { border-collapse: collapse; width: 100%; }
th, td { border: 1px solid #ccc; padding: .3em .5em; text-align: left; vertical-align: top; }
th { background: #eef; }
td.n { text-align: right; white-space: nowrap; }
tr.quiet td { background: #fff0c0; }
tr.quiet td.since { font-weight: bold; color: #a50; }
tr.reminder td.line { background: #ffe0e0; }
tr.ended td { color: #888; background: #f3f3f3; }
tr.finished td { background: #e6f4e6; }
tr.left td { color: #666; background: #f3f3f3; }
tr.apart td { border-top: 3px solid #6a6; }
p.note { background: #eef; padding: .4em .6em; border-radius: .3em; }
.tag { display: inline-block; padding: 0 .4em; margin-right: .2em; border-radius: .3em; font-size: .85em; }
.tag.quiet { background: #f0b040; color: #000; }
.tag.reminder { background: #e66; color: #fff; }
.tag.ended { background: #999; color: #fff; }
.tag.finished { background: #393; color: #fff; }
.tag.working { background: #cde; color: #000; }
.tag.left { background: #777; color: #fff; }
.end { margin-left: .2em; }
h2 { font-size: 1.15em; margin: 1.4em 0 .3em; }
h3 { font-size: 1em; margin: 1em 0 .3em; }
details ul { margin: .2em 0; padding-left: 1.2em; text-align: left; }
</style>
)";

} // namespace

LiveView::LiveView(LiveOptions options, const Clock& clock) : options_(std::move(options)), clock_(clock)
{
    connect(&timer_, &QTimer::timeout, this, &LiveView::poll);
}

LiveView::Folder::Folder(LiveView& view, const QString& path)
    : view_(view), master_(QDir(path).filePath(kMasterFile)),
      index_(QDir(path).filePath(QLatin1String(sessionindex::kFileName)))
{
}

void LiveView::start()
{
    timer_.start(options_.pollMilliseconds);
}

qint64 LiveView::bytesRead() const
{
    qint64 read = 0;
    for (const auto& f : folders_)
        read += f->master_.bytesRead() + f->index_.bytesRead();
    return read;
}

void LiveView::Folder::reset()
{
    master_ = FileFollower(master_.path());
    index_ = FileFollower(index_.path());
    masterPending_.clear();
    pendingOffset_ = 0;
    tailSeen_ = -1;
    indexPending_.clear();
    indexLine_ = 1;
    haveIndex_ = false;
    sessions_.clear();
    recordPlaces_.clear();
    headerPlaces_.clear();
    claimedHeaders_.clear();
    waiting_.clear();
    currentHeader_.clear();
    endsWritten_ = false;
    indexNotes_.clear();
    todayKeys_.clear();
    todayFor_.clear();
}

void LiveView::fail(const QString& problem)
{
    failed_ = true;
    awayReason_ = problem;
}

QString LiveView::shownPath(const QString& path) const
{
    return QDir::toNativeSeparators(QDir(options_.folder).relativeFilePath(path));
}

void LiveView::look(Folder& f)
{
    if (const bool indexWhole = f.lookAtIndex(); !indexWhole || !f.lookAtMaster()) {
        // A file cut short or replaced is read again from its start, and with it its folder.
        restarted_ = QStringLiteral("%1 got shorter or was replaced at %2: read again from its start")
                         .arg(shownPath(indexWhole ? f.master_.path() : f.index_.path()),
                              clock_.now().toString(QStringLiteral("hh:mm:ss")));
        f.reset();
        if (f.lookAtIndex())
            f.lookAtMaster();
    }
}

bool LiveView::poll()
{
    failed_ = false;
    today_ = clock_.now().toString(QStringLiteral("MM-dd-yyyy"));
    if (!QFileInfo(options_.folder).isDir()) {
        fail(QStringLiteral("the folder cannot be reached"));
    } else {
        // Walked at every look, so a student's folder made later is followed from then on.
        refused_.clear();
        const QStringList found =
            recordFoldersBelow(options_.folder, [this](const QString& message) { refused_ << message; });
        for (const QString& path : found) {
            const QString master = QDir(path).filePath(kMasterFile);
            if (std::none_of(folders_.cbegin(), folders_.cend(),
                             [&](const auto& f) { return f->master_.path() == master; }))
                folders_.push_back(std::make_unique<Folder>(*this, path));
        }
        for (const auto& f : folders_)
            look(*f);
        // An emptied mount point leaves the folder there and takes its files: said at once, not
        // taken for a class that has not begun.
        for (const auto& f : folders_) {
            if (!failed_ && f->masterMissing_ && f->masterSeen_)
                fail(QStringLiteral("%1 is gone: a share whose mount point is now empty, or the file was taken away")
                         .arg(shownPath(f->master_.path())));
        }
    }
    if (!failed_)
        awaySince_.reset();
    else if (!awaySince_)
        awaySince_ = clock_.now();
    for (const auto& f : folders_) {
        f->placePending(false);
        f->refreshToday();
    }

    page_ = render();
    QSaveFile out(options_.page);
    const bool written = out.open(QIODevice::WriteOnly) && out.write(page_) == page_.size() && out.commit();
    writeProblem_ = written ? QString() : out.errorString();
    emit pageWritten();
    return written;
}

bool LiveView::Folder::lookAtIndex()
{
    for (int i = 0; i < kLooksPerPoll; ++i) {
        const FileFollower::Look look = index_.look();
        if (look.state == FileFollower::Look::State::Missing)
            return true;
        if (look.state == FileFollower::Look::State::Unreadable) {
            view_.fail(QStringLiteral("%1 cannot be read: %2").arg(view_.shownPath(index_.path()), look.problem));
            return true;
        }
        if (look.state == FileFollower::Look::State::Restarted)
            return false;
        haveIndex_ = true;
        if (look.bytes.isEmpty())
            return true;
        indexPending_ += look.bytes;
        // A line still being written is left for the next look.
        const sessionindex::Parsed parsed = sessionindex::parse(indexPending_, false, indexLine_);
        indexLine_ += indexPending_.left(parsed.consumed).count('\n');
        indexPending_.remove(0, parsed.consumed);
        for (const sessionindex::SessionEntry& e : parsed.sessions) {
            Session& s = sessions_[e.id];
            if (!s.start.isEmpty())
                continue; // named already: a later line does not relabel a student
            s.name = e.name;
            s.computer = e.host;
            s.set = codepage::encode(e.set);
            s.date = e.date;
            s.start = e.time;
            dated(e.id, s.date);
        }
        for (qsizetype i = 0; i < parsed.ends.size(); ++i) {
            const sessionindex::EndEntry& e = parsed.ends[i];
            endsWritten_ = true;
            const auto s = sessions_.find(e.session);
            const QString id = QString::fromLatin1(e.session);
            auto word = [](const sessionindex::EndEntry& end) {
                return QString::fromLatin1(sessionindex::howWord(end.how));
            };
            QString note;
            if (s == sessions_.end() || s->start.isEmpty())
                note = QStringLiteral("an end (%1) of session %2, which no session entry names").arg(word(e), id);
            else if (!s->end)
                s->end = e; // the first end stands; the same one again is no news
            else if (!(*s->end == e))
                note = QStringLiteral("a second end (%1) of session %2; the first (%3) stands")
                           .arg(word(e), id, word(*s->end));
            if (!note.isEmpty() && indexNotes_.size() < kIndexNotesShown) {
                indexNotes_ << QStringLiteral("%1:%2: not used: %3")
                                   .arg(view_.shownPath(index_.path()))
                                   .arg(parsed.endLines[i])
                                   .arg(note);
            }
        }
        for (const sessionindex::PlaceEntry& p : parsed.places) {
            if (p.file != kMasterFile)
                continue;
            if (p.kind == sessionindex::PlaceEntry::Kind::Record) {
                recordPlaces_.insert(p.offset, p.session);
            } else {
                headerPlaces_.insert(p.offset, p.session);
                claimedHeaders_.insert(headerKey(p.offset), p.session);
            }
        }
        if (look.bytes.size() < (qint64(4) << 20))
            return true;
    }
    return true;
}

bool LiveView::Folder::lookAtMaster()
{
    for (int i = 0; i < kLooksPerPoll; ++i) {
        const FileFollower::Look look = master_.look();
        masterMissing_ = look.state == FileFollower::Look::State::Missing;
        if (masterMissing_)
            return true; // no student has recorded yet, or an empty mount point
        masterSeen_ = true;
        if (look.state == FileFollower::Look::State::Unreadable) {
            view_.fail(QStringLiteral("%1 cannot be read: %2").arg(view_.shownPath(master_.path()), look.problem));
            return true;
        }
        if (look.state == FileFollower::Look::State::Restarted)
            return false;
        if (masterPending_.isEmpty())
            pendingOffset_ = look.offset;
        if (look.offset == 0)
            catchingUp_ = true; // what the file held before it was first seen

        masterPending_ += look.bytes;
        readMaster(masterPending_, pendingOffset_, look.bytes.isEmpty());
        if (look.bytes.size() < (qint64(4) << 20))
            break;
    }
    catchingUp_ = false;
    return true;
}

// Every stretch but the last is whole: the next one's start shows where it ends. The last is
// taken only once it reads whole and its index entry has come or it stayed as it was since
// the look before; until then it waits, a record still being written or a torn tail.
void LiveView::Folder::readMaster(QByteArrayView bytes, qint64 offset, bool settled)
{
    QBuffer buffer;
    buffer.setData(bytes.toByteArray());
    buffer.open(QIODevice::ReadOnly);
    StretchSplitter splitter(buffer);
    QByteArray previous;
    qint64 previousAt = -1;
    auto take = [&](QByteArrayView stretch, qint64 at) {
        const Parsed p = parseStretch(stretch);
        if (p.type == Parsed::Type::Header) {
            header(stretch, offset + at);
        } else if (p.type != Parsed::Type::None) {
            PendingRecord r;
            r.headerKey = currentHeader_;
            r.time = p.field(Field::Time).toByteArray();
            r.line = firstLineOf(p.field(Field::Line));
            r.fullLine = codepage::decode(p.field(Field::Line).toByteArray());
            const QByteArrayView number = p.field(Field::Number).trimmed();
            r.question = number.isEmpty() ? 0 : int(number.toLongLong() % 10000);
            r.flag = flagOf(p.field(Field::Text));
            r.onlyReminder = r.flag == TextFlag::OnlyReminder;
            r.note = p.type == Parsed::Type::Note;
            const QByteArrayView text = p.field(Field::Text);
            r.text = text.first(std::min(text.size(), kAnswerKept)).toByteArray();
            const QDateTime now = view_.clock_.now();
            r.seen = now;
            if (catchingUp_) {
                // There before the file was first seen: the record's own time of day, never later than now.
                const QDateTime written(now.date(), QTime::fromString(QString::fromLatin1(r.time), u"hh:mm:ss"));
                r.seen = written.isValid() && written <= now ? written : now;
            }
            record(r, offset + at);
        }
    };
    Stretch s;
    while (splitter.next(s)) {
        if (previousAt >= 0)
            take(previous, previousAt);
        previous = s.whole ? s.bytes.toByteArray() : QByteArray();
        previousAt = s.whole ? s.offset : -1;
    }
    if (previousAt < 0) {
        masterPending_.clear();
        tailSeen_ = -1;
        return;
    }
    const Parsed last = parseStretch(previous);
    const bool whole = last.type != Parsed::Type::None && last.size == previous.size();
    const bool confirmed = recordPlaces_.contains(offset + previousAt) || headerPlaces_.contains(offset + previousAt);
    if (whole && (confirmed || (settled && tailSeen_ == previous.size()))) {
        take(previous, previousAt);
        masterPending_.clear();
        tailSeen_ = -1;
        return;
    }
    masterPending_ = previous;
    pendingOffset_ = offset + previousAt;
    tailSeen_ = previous.size();
}

void LiveView::Folder::header(QByteArrayView bytes, qint64 offset)
{
    const Parsed p = parseStretch(bytes);
    currentHeader_ = headerKey(offset);
    Session& s = sessions_[currentHeader_];
    s.set = p.field(Field::Set).toByteArray();
    s.date = QString::fromLatin1(p.field(Field::Date));
    s.order = offset;
    dated(currentHeader_, s.date);
}

void LiveView::Folder::dated(const QByteArray& key, const QString& date)
{
    if (date == view_.today_)
        todayKeys_.insert(key);
}

void LiveView::Folder::refreshToday()
{
    if (todayFor_ == view_.today_)
        return;
    todayFor_ = view_.today_; // a new day: the sessions of the one before leave the page
    todayKeys_.clear();
    for (auto it = sessions_.cbegin(); it != sessions_.cend(); ++it)
        dated(it.key(), it->date);
}

void LiveView::Folder::record(const PendingRecord& r, qint64 offset)
{
    if (const QByteArray id = recordPlaces_.value(offset); !id.isEmpty())
        apply(id, r);
    else if (haveIndex_ && !catchingUp_)
        waiting_.insert(offset, r); // its entry is written right after it
    else if (!r.headerKey.isEmpty())
        apply(claimedHeaders_.value(r.headerKey, r.headerKey), r);
}

void LiveView::Folder::placePending(bool all)
{
    const QDateTime now = view_.clock_.now();
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        const QByteArray id = recordPlaces_.value(it.key());
        if (!id.isEmpty()) {
            apply(id, *it);
        } else if (all || it->seen.secsTo(now) >= kIndexGraceSeconds) {
            if (!it->headerKey.isEmpty())
                apply(claimedHeaders_.value(it->headerKey, it->headerKey), *it);
        } else {
            ++it;
            continue;
        }
        it = waiting_.erase(it);
    }
}

void LiveView::Folder::apply(const QByteArray& key, const PendingRecord& r)
{
    Session& s = sessions_[key];
    ++s.records;
    s.lastLine = r.line;
    const SetPlace place = placeInSet(s.set, r.fullLine);
    s.place = place.line;
    s.placeOf = place.lines;
    if (r.question)
        s.question = r.question;
    s.onlyReminder += r.onlyReminder ? 1 : 0;
    s.lastOnlyReminder = r.onlyReminder;
    std::optional<int> seconds;
    if (!s.lastTime.isEmpty()) // a session may pass midnight
        seconds = (secondsOfDay(r.time) - secondsOfDay(s.lastTime) + kSecondsPerDay) % kSecondsPerDay;
    s.lastTime = r.time;
    if (s.date.isEmpty() || s.date == view_.today_) // earlier days are not on the page
        s.lines.add(place.line, r.note, r.flag, seconds, r.text);
    if (!s.lastRecord.isValid() || r.seen > s.lastRecord)
        s.lastRecord = r.seen;
}

QByteArray LiveView::render() const
{
    const QDateTime now = clock_.now();
    const QString today = now.toString(QStringLiteral("MM-dd-yyyy"));
    struct Row {
        const Session* s;
        QByteArray key;
        const Folder* f;
    };
    QList<Row> rows;
    for (const auto& f : folders_) {
        for (const QByteArray& key : f->todayKeys_) {
            const auto it = f->sessions_.constFind(key);
            if (it != f->sessions_.cend() && !f->claimedHeaders_.contains(key) && it->date == today)
                rows << Row{&*it, key, f.get()};
        }
    }
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        if (a.s->name.isEmpty() != b.s->name.isEmpty())
            return b.s->name.isEmpty();
        const int byName = a.s->name.localeAwareCompare(b.s->name);
        if (byName != 0)
            return byName < 0;
        return std::tie(a.s->start, a.s->order, a.key) < std::tie(b.s->start, b.s->order, b.key);
    });
    // A session's end entry says how it ended. Tutors that write none (older ones: no end in
    // their folder's index) leave the last line recorded against to stand for the set's end;
    // where ends are written, a session without one is still going, or its tutor was stopped.
    using How = sessionindex::EndEntry::How;
    auto finished = [](const Row& r) {
        if (r.s->end)
            return r.s->end->how == How::Finished;
        return !r.f->endsWritten_ && r.s->placeOf > 0 && r.s->place == r.s->placeOf;
    };
    auto left = [](const Row& r) { return r.s->end && r.s->end->how != How::Finished; };
    // Those at their set's end are listed apart, after the ones still at work.
    std::stable_partition(rows.begin(), rows.end(), [&](const Row& r) { return !finished(r); });
    auto ended = [&](const Session& s) {
        if (s.computer.isEmpty())
            return false;
        return std::any_of(rows.cbegin(), rows.cend(), [&](const Row& other) {
            return other.s != &s && other.s->computer == s.computer && other.s->start > s.start;
        });
    };

    QByteArray out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                     "<meta http-equiv=\"refresh\" content=\"" +
                     QByteArray::number(options_.reloadSeconds) + "\">\n<title>Class now</title>\n" + kPageStyle +
                     "</head>\n<body>\n<h1>The class now</h1>\n<p class=\"meta\">";
    appendText(out, QDir::toNativeSeparators(options_.folder));
    out += " · " + now.toString(QStringLiteral("MM-dd-yyyy hh:mm:ss")).toLatin1() + " · " +
           QByteArray::number(rows.size()) + (rows.size() == 1 ? " session" : " sessions") + " today · quiet after " +
           sinceText(options_.quietSeconds).toUtf8() + "</p>\n";
    if (awaySince_) {
        out += "<p class=\"away\">Cannot read the folder since " +
               awaySince_->toString(QStringLiteral("hh:mm:ss")).toLatin1() + " (";
        appendText(out, awayReason_);
        out += "); the rows show what was read before.</p>\n";
    }
    QStringList notes = refused_;
    for (const auto& f : folders_)
        notes += f->indexNotes_;
    for (const QString& refused : std::as_const(notes)) {
        out += "<p class=\"note\">";
        appendText(out, refused);
        out += ".</p>\n";
    }
    if (!restarted_.isEmpty()) {
        out += "<p class=\"note\">";
        appendText(out, restarted_);
        out += ".</p>\n";
    }
    // The question column only where a set numbers its questions (the master file's number).
    const bool numbered = std::any_of(rows.cbegin(), rows.cend(), [](const Row& r) { return r.s->question != 0; });
    const bool masterMissing =
        std::all_of(folders_.cbegin(), folders_.cend(), [](const auto& f) { return f->masterMissing_; });
    if (rows.isEmpty() && masterMissing && !awaySince_) {
        out += "<p class=\"note\">The folder holds no master file yet: no student has recorded in it, or it is a "
               "share that is not mounted (an empty mount point). The page shows each session as it starts.</p>\n";
    } else if (rows.isEmpty()) {
        out += "<p>No session has started today yet; the page shows each one as it starts.</p>\n";
    } else {
        out += "<table>\n<thead><tr><th>Student</th><th>Computer</th><th>Set</th>" +
               QByteArray(numbered ? "<th>Question</th>" : "") +
               "<th>Line last recorded against</th><th>Place in set</th><th>Records</th><th>Since last "
               "record</th><th>State</th></tr>"
               "</thead>\n";
    }
    // While the folder cannot be read, time stands still for the rows: nobody turns quiet
    // because their records cannot be seen.
    const QDateTime upTo = awaySince_ ? std::min(*awaySince_, now) : now;
    bool apart = false;
    for (const Row& row : std::as_const(rows)) {
        const Session& s = *row.s;
        const bool isFinished = finished(row);
        const bool isLeft = left(row);
        const bool isEnded = !s.end && ended(s);
        // Without a record yet, a session is quiet from its start.
        const QDateTime started(now.date(), QTime::fromString(s.start, u"hh:mm:ss"));
        const QDateTime from = s.lastRecord.isValid() ? s.lastRecord : started;
        const qint64 since = from.isValid() ? std::max<qint64>(0, from.secsTo(upTo)) : -1;
        const bool quiet = !isEnded && !isFinished && !isLeft && since > options_.quietSeconds;
        QByteArrayList classes;
        if (isFinished && !std::exchange(apart, true) && row.s != rows.first().s)
            classes << "apart";
        if (isFinished)
            classes << "finished";
        if (isLeft)
            classes << "left";
        if (isEnded)
            classes << "ended";
        if (quiet)
            classes << "quiet";
        if (s.lastOnlyReminder)
            classes << "reminder";
        out += classes.isEmpty() ? QByteArray("<tr>") : "<tr class=\"" + classes.join(' ') + "\">";
        out += "<td>";
        appendText(out, s.name.isEmpty() ? QStringLiteral("(no name: no session index)") : s.name);
        out += "</td><td>";
        appendText(out, s.computer);
        out += "</td><td class=\"n\">";
        appendHtmlRecordText(out, s.set);
        out += "</td>";
        if (numbered)
            out += "<td class=\"n\">" + (s.question ? QByteArray::number(s.question) : QByteArray()) + "</td>";
        out += "<td class=\"line\">";
        appendText(out, s.lastLine);
        out += "</td><td class=\"n\">";
        if (s.place)
            out += QByteArray::number(s.place) + " of " + QByteArray::number(s.placeOf);
        out += "</td><td class=\"n\">" + QByteArray::number(s.records) + "</td><td class=\"n since\">";
        if (!s.lastRecord.isValid())
            out += "no record yet";
        if (since >= 0)
            appendText(out, (s.lastRecord.isValid() ? QString() : QStringLiteral(", started ")) + sinceText(since) +
                                (s.lastRecord.isValid() ? QString() : QStringLiteral(" ago")));
        out += "</td><td>";
        if (isFinished)
            out += "<span class=\"tag finished\">finished</span>";
        else if (isLeft)
            out += "<span class=\"tag left\">left</span>";
        else if (isEnded)
            out += "<span class=\"tag ended\">ended</span>";
        else if (quiet)
            out += "<span class=\"tag quiet\">quiet " + QByteArray::number(since / 60) + " min</span>";
        else
            out += "<span class=\"tag working\">working</span>";
        if (s.end) {
            const QString how = s.end->how == How::Finished ? QStringLiteral("the set's end")
                                : s.end->how == How::Quit   ? QStringLiteral("quit the program")
                                                            : QStringLiteral("closed the window");
            out += "<span class=\"end\">";
            appendText(out, how + QStringLiteral(" at ") + s.end->time);
            out += "</span>";
        }
        if (s.onlyReminder) {
            out += "<span class=\"tag reminder\">" + QByteArray::number(s.onlyReminder) +
                   (s.onlyReminder == 1 ? " answer" : " answers") + " only the reminder</span>";
        }
        out += "</td></tr>\n";
    }
    if (!rows.isEmpty())
        out += "</table>\n";

    // Each student once per set, their sessions of the day together.
    std::map<std::pair<QString, QByteArray>, std::pair<QString, StudentLines>> students;
    for (const Row& row : std::as_const(rows)) {
        const Session& s = *row.s;
        const QString key = s.name.isEmpty() ? QString::number(quintptr(row.s)) : s.name + u'\n' + s.computer;
        auto& [who, lines] = students[{key, s.set}];
        if (who.isEmpty())
            who = s.name.isEmpty() ? QStringLiteral("(no name)")
                                   : (s.computer.isEmpty() ? s.name : s.name + QStringLiteral(" on ") + s.computer);
        lines.merge(s.lines);
    }
    QuestionSummary summary;
    for (const auto& [key, student] : students)
        summary.add(key.second, student.first, student.second);
    if (!summary.isEmpty())
        summary.writeHtml(out);
    return out + "</body>\n</html>\n";
}

} // namespace review

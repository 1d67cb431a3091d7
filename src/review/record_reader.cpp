#include "record_reader.h"

#include "platform/code_page.h"

#include "record_parser.h"
#include "stretch_splitter.h"

#include <algorithm>

namespace review {
namespace {

constexpr int kSecondsPerDay = 24 * 60 * 60;

int secondsOfDay(QByteArrayView time)
{
    auto two = [&](qsizetype at) { return (time[at] - '0') * 10 + (time[at + 1] - '0'); };
    return two(0) * 3600 + two(3) * 60 + two(6);
}

// Counted in blocks that a byte-wide counter holds, so that the compiler compares and adds
// a whole vector of bytes at a time.
qint64 lineEnds(QByteArrayView bytes)
{
    constexpr qsizetype kBlock = 255;
    qint64 total = 0;
    for (qsizetype at = 0; at < bytes.size(); at += kBlock) {
        const char* p = bytes.data() + at;
        const qsizetype n = std::min(kBlock, bytes.size() - at);
        unsigned char count = 0;
        for (qsizetype i = 0; i < n; ++i)
            count += p[i] == '\n' ? 1 : 0;
        total += count;
    }
    return total;
}

class Reader {
public:
    Reader(ReadSink& sink, const FileIndex* index) : sink_(sink), index_(index && !index->isEmpty() ? index : nullptr)
    {
        if (!index_)
            return;
        used_.fill(false, index_->places.size());
        for (qsizetype i = 0; i < index_->places.size(); ++i) {
            // The first entry for an offset holds. The same entry again (a holder and a breaker
            // that both wrote it) is no fault; another one is left unused, and named as such.
            const qsizetype first = placeAt_.value(index_->places[i].offset, -1);
            if (first < 0)
                placeAt_.insert(index_->places[i].offset, i);
            else if (index_->places[first] == index_->places[i])
                used_[i] = true;
        }
    }

    void stretch(const Stretch& s)
    {
        if (!s.whole) {
            // Only the first piece shows whether a record started the stretch.
            if (!inPieces_ && s.bytes.startsWith(recordStartPattern())) {
                flushDamage();
                addDamage(s.bytes.size(), QStringLiteral("a record of more than %1 MB, more than the reader holds "
                                                         "at once (an answer that long is not read)")
                                              .arg(StretchSplitter::kMaxHeld >> 20));
            } else {
                addDamage(s.bytes.size(), QStringLiteral("more than %1 MB with no record or session header in it")
                                              .arg(StretchSplitter::kMaxHeld >> 20));
            }
        } else {
            flushDamage();
            parse(s.bytes, s.offset);
        }
        inPieces_ = !s.whole;
        line_ += lineEnds(s.bytes);
        totals.bytes += s.bytes.size();
    }

    void finish()
    {
        flushDamage();
        if (index_) {
            for (qsizetype i = 0; i < index_->places.size(); ++i) {
                const auto& place = index_->places[i];
                if (!used_[i]) {
                    mismatch(i, QStringLiteral("points at no whole %1 (%2 bytes at %3)")
                                    .arg(kindName(place.kind))
                                    .arg(place.length)
                                    .arg(place.offset));
                }
            }
        }
        QHash<QByteArray, int> sessionsOfDate;
        for (const auto& [date, records] : std::as_const(byOrder_))
            ++sessionsOfDate[date];
        for (const auto& [date, records] : std::as_const(byOrder_)) {
            if (sessionsOfDate[date] > 1)
                totals.placedByOrderOnly += records;
        }
    }

    ReadTotals totals;

private:
    using Place = sessionindex::PlaceEntry;

    // What is known of a session the index names: its header in this file, if indexed, and
    // its last record's time.
    struct Known {
        int number = 0;
        QByteArray date;
        QByteArray set;
        QString computer;
        QString name;
        std::optional<int> lastTime;
    };

    static QString kindName(Place::Kind kind)
    {
        return kind == Place::Kind::Header ? QStringLiteral("session header") : QStringLiteral("record");
    }

    void mismatch(qsizetype i, const QString& reason)
    {
        ++totals.indexMismatches;
        sink_.indexMismatch({index_->placeLines.value(i), reason});
    }

    // The index entry that places the item of `size` bytes at `offset`, or none; an entry
    // there that does not fit the item is named and not used.
    const Place* placed(qint64 offset, Place::Kind kind, qint64 size)
    {
        const qsizetype i = placeAt_.value(offset, -1);
        if (i < 0)
            return nullptr;
        used_[i] = true;
        const Place& place = index_->places[i];
        if (place.kind != kind) {
            mismatch(i, QStringLiteral("points at a %1, not a %2 (at %3)")
                            .arg(kindName(kind), kindName(place.kind))
                            .arg(offset));
            return nullptr;
        }
        if (place.length != size) {
            mismatch(i, QStringLiteral("gives %1 bytes to the %2 at %3, which takes %4")
                            .arg(place.length)
                            .arg(kindName(kind))
                            .arg(offset)
                            .arg(size));
            return nullptr;
        }
        return &place;
    }

    Known& known(const QByteArray& id)
    {
        auto it = byId_.find(id);
        if (it != byId_.end())
            return *it;
        Known k;
        if (const auto s = index_->sessions.constFind(id); s != index_->sessions.cend()) {
            k.date = codepage::encode(s->date);
            k.set = codepage::encode(s->set);
            k.computer = s->host;
            k.name = s->name;
        }
        return *byId_.insert(id, k);
    }

    void parse(QByteArrayView bytes, qint64 offset)
    {
        const Parsed p = parseStretch(bytes);
        switch (p.type) {
        case Parsed::Type::None:
            addDamage(bytes.size(), p.problem);
            return;
        case Parsed::Type::Header:
            header(p, offset);
            break;
        case Parsed::Type::Response:
        case Parsed::Type::Note:
            record(p, offset);
            break;
        }
        if (p.size < bytes.size()) {
            const QByteArrayView rest = bytes.sliced(p.size);
            const qint64 line = line_ + lineEnds(bytes.first(p.size)) + 1;
            sink_.skipped({line, rest.size(), QStringLiteral("text after the end of a record or session header")});
            ++totals.skipped;
        }
    }

    void header(const Parsed& p, qint64 offset)
    {
        session_ = Session();
        session_.number = ++totals.sessions;
        session_.date = p.field(Field::Date).toByteArray();
        session_.set = p.field(Field::Set).toByteArray();
        session_.headerLine = p.field(Field::HeaderLine).toByteArray();
        session_.line = line_ + 1;
        lastTime_.reset();
        if (const Place* place = index_ ? placed(offset, Place::Kind::Header, p.size) : nullptr) {
            Known& k = known(place->session);
            k.number = session_.number;
            k.date = session_.date;
            k.set = session_.set;
            session_.id = place->session;
            session_.computer = k.computer;
            session_.name = k.name;
            if (const auto end = index_->ends.constFind(place->session); end != index_->ends.cend())
                session_.end = *end;
        }
        byOrder_.append({session_.date, 0});
        sink_.session(session_);
    }

    static std::optional<int> secondsSince(std::optional<int>& last, int now)
    {
        std::optional<int> seconds;
        if (last)
            seconds = (now - *last + kSecondsPerDay) % kSecondsPerDay; // a session may pass midnight
        last = now;
        return seconds;
    }

    void record(const Parsed& p, qint64 offset)
    {
        Record r;
        r.kind = p.type == Parsed::Type::Note ? Record::Kind::Note : Record::Kind::Response;
        r.time = p.field(Field::Time);
        r.question = p.field(Field::Number).trimmed();
        r.line = p.field(Field::Line);
        r.text = p.field(Field::Text);
        r.lineNumber = line_ + 1;
        r.offset = offset;
        r.length = p.size;
        const int now = secondsOfDay(r.time);
        if (const Place* place = index_ ? placed(offset, Place::Kind::Record, p.size) : nullptr) {
            Known& k = known(place->session);
            r.session = k.number;
            r.date = k.date;
            r.set = k.set;
            r.sessionId = place->session;
            r.computer = k.computer;
            r.name = k.name;
            r.seconds = secondsSince(k.lastTime, now);
            ++totals.placedByIndex;
        } else {
            r.session = session_.number;
            r.date = session_.number ? QByteArrayView(session_.date) : p.field(Field::Date);
            r.set = session_.set;
            r.sessionId = session_.id;
            r.computer = session_.computer;
            r.name = session_.name;
            if (session_.number) {
                r.seconds = secondsSince(lastTime_, now);
                ++byOrder_.last().second;
            }
        }
        ++totals.records;
        sink_.record(r);
    }

    void addDamage(qint64 bytes, const QString& reason)
    {
        if (!damage_.bytes) {
            damage_.line = line_ + 1;
            damage_.reason = reason;
        }
        damage_.bytes += bytes;
    }

    void flushDamage()
    {
        if (!damage_.bytes)
            return;
        sink_.skipped(damage_);
        ++totals.skipped;
        damage_ = {};
    }

    ReadSink& sink_;
    qint64 line_ = 0; // line ends before the stretch being read
    Session session_;
    std::optional<int> lastTime_;
    Skipped damage_;
    bool inPieces_ = false;
    const FileIndex* index_ = nullptr;
    QHash<qint64, qsizetype> placeAt_;
    QList<bool> used_;
    QHash<QByteArray, Known> byId_;
    QList<std::pair<QByteArray, int>> byOrder_; // each header's date, and its records placed by order
};

} // namespace

ReadTotals readRecords(QIODevice& in, ReadSink& sink, qsizetype chunk, const FileIndex* index)
{
    StretchSplitter splitter(in, chunk);
    Reader reader(sink, index);
    Stretch s;
    while (splitter.next(s))
        reader.stretch(s);
    reader.finish();
    reader.totals.readFailed = splitter.readFailed();
    return reader.totals;
}

} // namespace review

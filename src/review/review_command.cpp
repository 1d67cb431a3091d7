#include "review_command.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <algorithm>
#include <memory>
#include <set>
#include <variant>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include "input_text.h"
#include "report.h"

namespace review {
namespace {

// More files than this, and the run says how far it has got.
constexpr int kFilesWithoutProgress = 20;
constexpr qint64 kSpoolChunk = qint64(1) << 20;

void say(const Console& console, const QString& message)
{
    console.error(QLatin1String(kProgram) + QLatin1String(": ") + shownOnTerminal(message));
}

bool isStandardInput(const QString& path)
{
    return path == QLatin1String("-");
}

QString nameOf(const QString& path)
{
    return isStandardInput(path) ? QString::fromLatin1(kStandardInput) : path;
}

// Hands everything to the report, and tells standard error what had to be skipped.
class ReportingSink final : public ReadSink {
public:
    ReportingSink(Report& report, const Console& console, const QString& name, const QString& indexName)
        : report_(report), console_(console), name_(name), indexName_(indexName)
    {
    }

    void session(const Session& s) override { report_.session(s); }
    void record(const Record& r) override { report_.record(r); }
    void skipped(const Skipped& s) override
    {
        say(console_, QStringLiteral("%1:%2: skipped %3: %4")
                          .arg(name_)
                          .arg(s.line)
                          .arg(countOf(s.bytes, "byte", "bytes"), s.reason));
        report_.skipped(s);
    }
    void indexMismatch(const IndexMismatch& m) override
    {
        say(console_,
            QStringLiteral("%1:%2: entry for %3 skipped: it %4").arg(indexName_).arg(m.indexLine).arg(name_, m.reason));
    }

private:
    Report& report_;
    const Console& console_;
    QString name_;
    QString indexName_;
};

// A record file to read: its name as messages and the report give it, and, where that name
// does not lead back to the file (a name that is no valid UTF-8), the bytes of its path.
struct InputFile {
    QString name;
    QByteArray nativePath;
};

// The session indexes of the folders read, each read once, its damage named once.
class Indexes {
public:
    explicit Indexes(const Console& console) : console_(console) {}

    // The index's entries for a record file, with the path of the index; none for standard
    // input or a folder without an index.
    const FileIndex* forFile(const InputFile& input, QString& indexPath)
    {
        if (isStandardInput(input.name) || !input.nativePath.isEmpty())
            return nullptr;
        const QFileInfo info(input.name);
        const QString folder = info.absolutePath();
        indexPath = QDir(info.path()).filePath(QLatin1String(sessionindex::kFileName));
        auto it = folders_.find(folder);
        if (it == folders_.end())
            it = folders_.insert(folder, load(indexPath));
        const auto file = it->constFind(info.fileName());
        return file == it->cend() ? nullptr : &*file;
    }

    int problems() const { return problems_; }

private:
    QHash<QString, FileIndex> load(const QString& path)
    {
        QHash<QString, FileIndex> files;
        QFile file(path);
        if (!file.exists())
            return files;
        if (!file.open(QIODevice::ReadOnly)) {
            say(console_, QStringLiteral("%1: cannot be read, so records are placed by their order: %2")
                              .arg(path, file.errorString()));
            ++problems_;
            return files;
        }
        const sessionindex::Parsed parsed = sessionindex::parse(file.readAll());
        for (const sessionindex::Problem& p : parsed.problems)
            say(console_, QStringLiteral("%1:%2: skipped: %3").arg(path).arg(p.line).arg(p.reason));
        problems_ += int(parsed.problems.size());
        // A line appended later (or copied from another folder) must not relabel a session:
        // the first entry for an id stands, and a different one is named.
        QHash<QByteArray, sessionindex::SessionEntry> sessions;
        QHash<QByteArray, qint64> firstLine;
        for (qsizetype i = 0; i < parsed.sessions.size(); ++i) {
            const sessionindex::SessionEntry& s = parsed.sessions[i];
            const auto first = sessions.constFind(s.id);
            if (first == sessions.cend()) {
                sessions.insert(s.id, s);
                firstLine.insert(s.id, parsed.sessionLines[i]);
            } else if (!(*first == s)) {
                say(console_, QStringLiteral("%1:%2: skipped: session %3 (%4 on %5) was named at line %6 already "
                                             "(%7 on %8); the first entry stands")
                                  .arg(path)
                                  .arg(parsed.sessionLines[i])
                                  .arg(QString::fromLatin1(s.id), s.name, s.host)
                                  .arg(firstLine.value(s.id))
                                  .arg(first->name, first->host));
                ++problems_;
            }
        }
        // How a session ended is evidence as well: an end for no session, or a second end that
        // says otherwise, is named and does not change the first.
        QHash<QByteArray, sessionindex::EndEntry> ends;
        QHash<QByteArray, qint64> endLine;
        for (qsizetype i = 0; i < parsed.ends.size(); ++i) {
            const sessionindex::EndEntry& e = parsed.ends[i];
            const QString id = QString::fromLatin1(e.session);
            const auto first = ends.constFind(e.session);
            if (!sessions.contains(e.session)) {
                say(console_, QStringLiteral("%1:%2: skipped: an end (%3) of session %4, which no session entry names")
                                  .arg(path)
                                  .arg(parsed.endLines[i])
                                  .arg(QString::fromLatin1(sessionindex::howWord(e.how)), id));
                ++problems_;
            } else if (first == ends.cend()) {
                ends.insert(e.session, e);
                endLine.insert(e.session, parsed.endLines[i]);
            } else if (!(*first == e)) {
                say(console_, QStringLiteral("%1:%2: skipped: session %3 (%4) ended at line %5 already (%6 at %7); "
                                             "the first end stands")
                                  .arg(path)
                                  .arg(parsed.endLines[i])
                                  .arg(id, QString::fromLatin1(sessionindex::howWord(e.how)))
                                  .arg(endLine.value(e.session))
                                  .arg(QString::fromLatin1(sessionindex::howWord(first->how)), first->time));
                ++problems_;
            }
        }
        for (qsizetype i = 0; i < parsed.places.size(); ++i) {
            FileIndex& f = files[parsed.places[i].file];
            f.places << parsed.places[i];
            f.placeLines << parsed.placeLines[i];
        }
        for (FileIndex& f : files) {
            f.sessions = sessions;
            f.ends = ends;
        }
        return files;
    }

    const Console& console_;
    QHash<QString, QHash<QString, FileIndex>> folders_;
    int problems_ = 0;
};

bool isRecordFileName(QByteArrayView name)
{
    return name.size() > 4 && name.endsWith(".txt");
}

#ifdef Q_OS_UNIX
// The *.txt files below a folder, by the bytes of their names, so that a name that is not
// valid UTF-8 is found too. A link to a folder (a student's folder linked in) is followed
// once; one that leads back to a folder already read is named and left, so no loop.
class RecordFileFinder {
public:
    explicit RecordFileFinder(std::function<void(const QString&)> refused) : refused_(std::move(refused)) {}

    void find(const QByteArray& folder, int depth = 0)
    {
        constexpr int kDeepest = 16;
        struct stat self {};
        if (::stat(folder.constData(), &self) != 0)
            return;
        if (!seen_.insert({quint64(self.st_dev), quint64(self.st_ino)}).second) {
            refused_(QStringLiteral("%1: the same folder as one already read (through a link); not read again")
                         .arg(QFile::decodeName(folder)));
            return;
        }
        folders << folder; // one that cannot be listed may still let its files be read
        DIR* dir = ::opendir(folder.constData());
        if (!dir)
            return;
        QList<QByteArray> below;
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name == "." || name == "..")
                continue;
            const QByteArray path = folder + '/' + name;
            struct stat st {};
            if (::stat(path.constData(), &st) != 0)
                continue;
            if (S_ISDIR(st.st_mode))
                below << path;
            else if (isRecordFileName(name) && S_ISREG(st.st_mode))
                found << path;
        }
        ::closedir(dir);
        std::sort(below.begin(), below.end());
        if (depth < kDeepest) {
            for (const QByteArray& path : std::as_const(below))
                find(path, depth + 1);
        }
    }

    QList<QByteArray> found;
    QList<QByteArray> folders; // each read once, in the order read

private:
    std::function<void(const QString&)> refused_;
    std::set<std::pair<quint64, quint64>> seen_;
};

QList<InputFile> recordFilesBelow(const QString& folder, const Console& console)
{
    QByteArray top = QFile::encodeName(folder);
    while (top.size() > 1 && top.endsWith('/'))
        top.chop(1);
    RecordFileFinder finder([&](const QString& message) { say(console, message); });
    finder.find(top);
    QList<QByteArray>& paths = finder.found;
    std::sort(paths.begin(), paths.end());
    QList<InputFile> files;
    for (const QByteArray& path : std::as_const(paths)) {
        const QString name = QFile::decodeName(path);
        files << InputFile{name, QFile::encodeName(name) == path ? QByteArray() : path};
    }
    return files;
}
} // namespace

QStringList recordFoldersBelow(const QString& folder, const std::function<void(const QString&)>& refused)
{
    QByteArray top = QFile::encodeName(folder);
    while (top.size() > 1 && top.endsWith('/'))
        top.chop(1);
    RecordFileFinder finder(refused);
    finder.find(top);
    QStringList folders;
    for (const QByteArray& path : std::as_const(finder.folders))
        folders << QFile::decodeName(path);
    return folders;
}

namespace {
#else
QList<InputFile> recordFilesBelow(const QString& folder, const Console&)
{
    QStringList paths;
    QDirIterator it(folder, {QStringLiteral("*.txt")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (isRecordFileName(QFileInfo(path).fileName().toUtf8()))
            paths << path;
    }
    std::sort(paths.begin(), paths.end());
    QList<InputFile> files;
    for (const QString& path : std::as_const(paths))
        files << InputFile{path, {}};
    return files;
}
} // namespace

QStringList recordFoldersBelow(const QString& folder, const std::function<void(const QString&)>&)
{
    QStringList folders{folder};
    QDirIterator it(folder, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        folders << it.next();
    return folders;
}

namespace {
#endif

bool isRegularFile(const QString& path)
{
#ifdef Q_OS_UNIX
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
#else
    return QFileInfo(path).isFile();
#endif
}

// The files named, a folder standing for the *.txt files in it and below it; what cannot be
// used is said.
QList<InputFile> expandPaths(const QStringList& paths, const Console& console, int& status)
{
    QList<InputFile> files;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (isStandardInput(path)) {
            files << InputFile{path, {}};
        } else if (!info.exists()) {
            say(console, QStringLiteral("%1: no such file or folder").arg(path));
            status = kBadUsage;
        } else if (!info.isDir() && !isRegularFile(path)) {
            // A FIFO would be read until its writer stops, a device perhaps for ever.
            say(console, QStringLiteral("%1: not a regular file (a pipe, socket or device); name the record file "
                                        "itself, or give - and send it to standard input")
                             .arg(path));
            status = kBadUsage;
        } else if (info.isDir()) {
            const QList<InputFile> found = recordFilesBelow(path, console);
            if (found.isEmpty()) {
                say(console, QStringLiteral("%1: a folder with no record files (*.txt) in it or below it").arg(path));
                status = kBadUsage;
            }
            files += found;
        } else {
            files << InputFile{path, {}};
        }
    }
    return files;
}

// The pages after an HTML report's first, in a folder beside it named after it: written into a
// folder of their own and put in place with the report, so that a report left as it was keeps
// its pages.
class FurtherPages {
public:
    explicit FurtherPages(const QString& report)
    {
        const QFileInfo info(report);
        const QString folder = info.completeBaseName() + QStringLiteral("-pages");
        final = info.dir().filePath(folder);
        more.folder = folder;
        more.firstPage = info.fileName();
        more.open = [this](int page) -> QIODevice* {
            if (!draft_) {
                draft_ = std::make_unique<QTemporaryDir>(final + QStringLiteral("-XXXXXX"));
                if (!draft_->isValid())
                    return nullptr;
            }
            if (!close())
                return nullptr;
            file_.setFileName(draft_->filePath(QStringLiteral("page-%1.html").arg(page)));
            return file_.open(QIODevice::WriteOnly) ? &file_ : nullptr;
        };
    }

    bool close()
    {
        if (!file_.isOpen())
            return true;
        const bool flushed = file_.flush() && file_.error() == QFileDevice::NoError;
        file_.close();
        return flushed;
    }

    // The pages of this run in place of those of the one before; only a folder of pages is
    // removed, nothing a person put there.
    bool commit()
    {
        QDir old(final);
        if (old.exists()) {
            const QStringList all =
                old.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
            const QStringList pages = old.entryList({QStringLiteral("page-*.html")}, QDir::Files);
            if (all != pages || !old.removeRecursively())
                return false;
        }
        if (!draft_)
            return true;
        if (!QDir().rename(draft_->path(), final))
            return false;
        draft_->setAutoRemove(false);
        return true;
    }

    MorePages more;
    QString final;

private:
    std::unique_ptr<QTemporaryDir> draft_;
    QFile file_;
};

bool isOneOf(const QString& output, const QList<InputFile>& files)
{
    const QString target = QFileInfo(output).canonicalFilePath();
    if (target.isEmpty())
        return false;
    for (const InputFile& file : files) {
        if (!isStandardInput(file.name) && QFileInfo(file.name).canonicalFilePath() == target)
            return true;
    }
    return false;
}

// A pipe cannot go back to its start, which telling UTF-8 from the code page needs; what it
// holds goes to a temporary file first, a chunk at a time.
bool spool(QIODevice& from, QTemporaryFile& to, QString& problem)
{
    if (!to.open()) {
        problem = QStringLiteral("no temporary file to hold it: ") + to.errorString();
        return false;
    }
    QByteArray chunk(kSpoolChunk, Qt::Uninitialized);
    for (;;) {
        const qint64 n = from.read(chunk.data(), chunk.size());
        if (n < 0) {
            problem = from.errorString();
            return false;
        }
        if (n == 0)
            break;
        if (to.write(chunk.constData(), n) != n) {
            problem = QStringLiteral("the temporary file holding it: ") + to.errorString();
            return false;
        }
    }
    if (!to.flush() || !to.seek(0)) {
        problem = QStringLiteral("the temporary file holding it: ") + to.errorString();
        return false;
    }
    return true;
}

bool openInput(const InputFile& input, QFile& file)
{
    if (input.nativePath.isEmpty()) {
        file.setFileName(input.name);
        return file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
#ifdef Q_OS_UNIX
    const int fd = ::open(input.nativePath.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        file.setFileName(input.name);
        return file.open(QIODevice::ReadOnly); // for the reason
    }
    return file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle);
#else
    return false;
#endif
}

QString lineEndsFound(LineEnds ends)
{
    switch (ends) {
    case LineEnds::Lf:
        return QStringLiteral("LF alone");
    case LineEnds::CrCrLf:
        return QStringLiteral("CR CR LF");
    case LineEnds::LfAndCrCrLf:
        return QStringLiteral("LF alone and CR CR LF");
    case LineEnds::CrLf:
        break;
    }
    return QStringLiteral("CR LF");
}

int readFile(const InputFile& input, Report& report, Indexes& indexes, const Console& console)
{
    const QString& path = input.name;
    const QString name = nameOf(path);
    QFile file;
    QTemporaryFile spooled;
    QIODevice* in = console.in;
    if (!isStandardInput(path)) {
        if (!openInput(input, file)) {
            say(console, QStringLiteral("%1: cannot be read: %2").arg(name, file.errorString()));
            return kBadUsage;
        }
        in = &file;
    } else if (!in) {
        say(console, QStringLiteral("%1: cannot be read").arg(name));
        return kBadUsage;
    }
    if (in->isSequential()) {
        QString problem;
        if (!spool(*in, spooled, problem)) {
            say(console, QStringLiteral("%1: cannot be read: %2").arg(name, problem));
            return kBadUsage;
        }
        in = &spooled;
    }

    const InputEncoding encoding = detectEncoding(*in);
    Utf8ToCodePage utf8(*in);
    QIODevice* source = in;
    if (encoding == InputEncoding::Utf8BeyondCodePage) {
        say(console,
            QStringLiteral("%1: read as the Windows-1252 the tutor writes, though it is valid UTF-8: it holds "
                           "characters the tutor cannot write (with a UTF-8 byte-order mark it is read as UTF-8)")
                .arg(name));
    } else if (encoding != InputEncoding::CodePage) {
        utf8.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        source = &utf8;
        say(console, QStringLiteral("%1: read as UTF-8 (%2), not as the Windows-1252 the tutor writes")
                         .arg(name, encoding == InputEncoding::Utf8WithBom
                                        ? QStringLiteral("it starts with a UTF-8 byte-order mark")
                                        : QStringLiteral("all of it is valid UTF-8, with characters outside ASCII")));
    }

    const LineEnds lineEnds = detectLineEnds(*in);
    LineEndsToCrLf crLf(*source);
    if (lineEnds != LineEnds::CrLf) {
        crLf.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        source = &crLf;
        say(console, QStringLiteral("%1: its line ends are %2, not the CR LF the tutor writes (an editor or a mail "
                                    "program changed them): read as CR LF")
                         .arg(name, lineEndsFound(lineEnds)));
    }

    QString indexPath;
    const FileIndex* index = indexes.forFile(input, indexPath);
    // Read converted, the bytes are the tutor's own again, so the index's offsets hold; the
    // reader still takes an entry only where its kind and length fit the item's bytes.
    report.beginFile(name, index != nullptr);
    ReportingSink sink(report, console, name, indexPath);
    const ReadTotals totals = readRecords(*source, sink, qsizetype(1) << 20, index);
    report.endFile(totals);
    if (totals.placedByOrderOnly) {
        say(console, QStringLiteral("%1: %2 placed in sessions by their order in the file only: no session index "
                                    "places them, and the file holds several sessions of one day, whose records "
                                    "may be interleaved")
                         .arg(name, countOf(totals.placedByOrderOnly, "record", "records")));
    }
    if (utf8.replaced()) {
        say(console, QStringLiteral("%1: %2 that Windows-1252 does not have, or bytes that are no UTF-8, shown as ?")
                         .arg(name, countOf(utf8.replaced(), "character", "characters")));
    }
    if (totals.readFailed) {
        say(console, QStringLiteral("%1: reading stopped after %2: %3")
                         .arg(name, countOf(totals.bytes, "byte", "bytes"), source->errorString()));
        return kBadUsage;
    }
    if (totals.bytes == 0)
        say(console, QStringLiteral("%1: empty, no records in it").arg(name));
    return totals.skipped || totals.indexMismatches ? kSomeSkipped : kAllRead;
}

} // namespace

QString shownOnTerminal(const QString& message)
{
    QString shown;
    shown.reserve(message.size());
    for (const QChar c : message) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u < 0xA0))
            shown += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

QString countOf(qint64 n, const char* one, const char* many)
{
    return QString::number(n) + u' ' + QLatin1String(n == 1 ? one : many);
}

QString usage()
{
    return QStringLiteral("Usage: classnotes-review [--csv | --html] [-o FILE] FILE...\n"
                          "       classnotes-review --help | --version\n"
                          "Reads the tutor's master, send and notes files (a folder: every *.txt file in it\n"
                          "and below it; -: standard input) and writes one report: CSV (the default), one\n"
                          "row per record, or one HTML page. -o FILE is replaced only by a whole report;\n"
                          "a CSV file starts with a UTF-8 byte-order mark, unless --no-bom.\n"
                          "Where a folder holds the tutor's session index (records.index), each record goes\n"
                          "to its own session, with the computer and the name the student typed at\n"
                          "start-up, which the index keeps so that students can be told apart.\n"
                          "Exit status: 0 all read, 1 some stretches or index entries skipped, 2 bad usage,\n"
                          "a file that cannot be read, or a report that cannot be written.\n"
                          "\n"
                          "       classnotes-review --gradebook [-o FILE] [--no-bom] FOLDER...\n"
                          "One CSV row per student (name and computer, from the session index) and set:\n"
                          "name,computer,set,questions,reached,answered,notes,first,last,minutes,ended\n"
                          "(ended: finished, quit or closed, as the index says); standard error notes a\n"
                          "name on several computers and a computer with several names.\n"
                          "\n"
                          "       classnotes-review --live FOLDER [-o PAGE] [--quiet MINUTES]\n"
                          "Follows a class's record folder read-only, until interrupted, and keeps PAGE (or\n"
                          "a page in the temporary folder) current within seconds: one row per session of\n"
                          "the day, who is on which line, how long since the last record, and whether it is\n"
                          "working, quiet (no record for more than MINUTES, 5), finished or left; and each\n"
                          "line of a set across the class.");
}

std::variant<Options, QString> parseArguments(const QStringList& arguments)
{
    Options options;
    bool formatGiven = false;
    bool gradebook = false;
    bool onlyFiles = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (onlyFiles || !a.startsWith(u'-') || a == QLatin1String("-")) {
            options.paths << a;
        } else if (a == QLatin1String("--")) {
            onlyFiles = true;
        } else if (a == QLatin1String("--csv") || a == QLatin1String("--html")) {
            const auto format = a == QLatin1String("--csv") ? Options::Format::Csv : Options::Format::Html;
            if (formatGiven && format != options.format)
                return QStringLiteral("--csv and --html cannot be given together");
            options.format = format;
            formatGiven = true;
        } else if (a == QLatin1String("-o") || a == QLatin1String("--output")) {
            if (i + 1 == arguments.size() || arguments[i + 1].isEmpty())
                return QStringLiteral("%1 needs a file name after it").arg(a);
            options.output = arguments[++i];
        } else if (a == QLatin1String("--gradebook")) {
            gradebook = true;
        } else if (a == QLatin1String("--no-bom")) {
            options.bom = false;
        } else if (a == QLatin1String("--live")) {
            options.live = true;
        } else if (a == QLatin1String("--quiet")) {
            bool ok = false;
            options.quietMinutes = i + 1 < arguments.size() ? arguments[i + 1].toInt(&ok) : 0;
            if (!ok || options.quietMinutes < 1)
                return QStringLiteral("--quiet needs a number of minutes (1 or more) after it");
            ++i;
        } else if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            options.help = true;
        } else if (a == QLatin1String("-v") || a == QLatin1String("--version")) {
            options.version = true;
        } else {
            return QStringLiteral("unknown option %1").arg(a);
        }
    }
    if (options.live && !options.help && !options.version) {
        if (options.paths.size() != 1 || isStandardInput(options.paths.first()))
            return QStringLiteral("--live needs one record folder");
        if (formatGiven)
            return QStringLiteral("--live writes its own page; --csv and --html are for reports");
    }
    if (gradebook) {
        if (formatGiven || options.live)
            return QStringLiteral("--gradebook writes its own CSV; it goes with neither --csv, --html nor --live");
        options.format = Options::Format::Gradebook;
    }
    if (options.paths.isEmpty() && !options.help && !options.version)
        return QStringLiteral("no record files given");
    return options;
}

int runReview(const Options& options, const Console& console)
{
    int status = kAllRead;
    const QList<InputFile> files = expandPaths(options.paths, console, status);
    // Nothing is written, not even the CSV's first line, for a run that cannot be whole.
    if (status == kBadUsage) {
        if (!options.output.isEmpty())
            say(console, QStringLiteral("%1: left as it was, since the report would lack what could not be read")
                             .arg(options.output));
        return kBadUsage;
    }
    if (!options.output.isEmpty() && isOneOf(options.output, files)) {
        say(console, QStringLiteral("%1: is one of the record files read; the report never writes over them")
                         .arg(options.output));
        return kBadUsage;
    }
    // A report file is written beside the old one and takes its place only when whole; a
    // device (/dev/null, a pipe) is written as it is, never replaced by a file of the same
    // name, and unbuffered, so that a write it refuses is seen at once rather than at close.
    const QFileInfo target(options.output);
    const bool replace = !options.output.isEmpty() && (!target.exists() || target.isFile());
    QSaveFile saved(options.output);
    QFile device(options.output);
    QIODevice* out = console.out;
    if (!options.output.isEmpty()) {
        out = replace ? static_cast<QIODevice*>(&saved) : &device;
        const auto mode = replace ? QIODevice::WriteOnly : QIODevice::WriteOnly | QIODevice::Unbuffered;
        if (!out->open(mode)) {
            // Qt's reason may name the file itself; the message names it once.
            QString reason = out->errorString();
            reason.replace(QStringLiteral(" ") + options.output, QString());
            say(console, QStringLiteral("%1: cannot be written: %2").arg(options.output, reason));
            return kBadUsage;
        }
    }
    const QString outName = options.output.isEmpty() ? QStringLiteral("standard output") : options.output;
    FurtherPages pages(options.output);
    const bool paged = options.format == Options::Format::Html && replace;
    std::unique_ptr<Report> report;
    if (options.format == Options::Format::Html)
        report = makeHtmlReport(*out, paged ? &pages.more : nullptr);
    else if (options.format == Options::Format::Gradebook)
        report = makeGradebook(*out, replace && options.bom, [&](const QString& note) { say(console, note); });
    else
        report = makeCsvReport(*out, replace && options.bom);
    const bool showProgress = console.progress && files.size() > kFilesWithoutProgress;
    Indexes indexes(console);
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (showProgress)
            console.progress(QStringLiteral("reading %1 of %2: %3")
                                 .arg(i + 1)
                                 .arg(files.size())
                                 .arg(shownOnTerminal(nameOf(files[i].name))));
        status = std::max(status, readFile(files[i], *report, indexes, console));
    }
    if (showProgress)
        console.progress(QString());
    if (indexes.problems())
        status = std::max<int>(status, kSomeSkipped);
    if (!report->finish() || !pages.close() || (replace && status != kBadUsage && !saved.commit())) {
        say(console, QStringLiteral("%1: the report could not be written: %2").arg(outName, out->errorString()));
        return kBadUsage;
    }
    // The first page is in place by now and links to pages that are not its own: no success.
    if (paged && status != kBadUsage && !pages.commit()) {
        say(console, QStringLiteral("%1: the further pages could not take the place of the old ones").arg(pages.final));
        return kBadUsage;
    }
    if (replace && status == kBadUsage) {
        say(console, QStringLiteral("%1: left as it was, since the report would lack what could not be read")
                         .arg(options.output));
    }
    return status;
}

QString livePage(const Options& options, const Console& console)
{
    const QString folder = options.paths.first();
    if (QFileInfo(folder).exists() && !QFileInfo(folder).isDir()) {
        say(console, QStringLiteral("%1: not a folder; --live follows a record folder").arg(folder));
        return {};
    }
    QString page = options.output;
    if (page.isEmpty()) {
        QTemporaryFile file(QDir::temp().filePath(QStringLiteral("classnotes-live-XXXXXX.html")));
        file.setAutoRemove(false);
        if (!file.open()) {
            say(console, QStringLiteral("no page in the temporary folder: %1").arg(file.errorString()));
            return {};
        }
        page = file.fileName();
    } else if (QFileInfo(page).isDir() || isOneOf(page, {InputFile{folder, {}}})) {
        say(console, QStringLiteral("%1: cannot be the page").arg(page));
        return {};
    }
    if (!QFileInfo(folder).isDir())
        say(console, QStringLiteral("%1: cannot be reached yet; waiting for it").arg(folder));
    return page;
}

int reviewMain(const QStringList& arguments, const Console& console, const std::function<int(const Options&)>& runLive)
{
    const auto parsed = parseArguments(arguments);
    if (const QString* problem = std::get_if<QString>(&parsed)) {
        say(console, *problem);
        console.error(usage());
        return kBadUsage;
    }
    const Options& options = std::get<Options>(parsed);
    if (options.help || options.version) {
        const QString text =
            options.help ? usage() : QLatin1String(kProgram) + QLatin1String(" ") + QLatin1String(TUTOR_VERSION);
        const QByteArray bytes = text.toUtf8() + '\n';
        if (console.out->write(bytes) != bytes.size()) {
            say(console, QStringLiteral("standard output could not be written: %1").arg(console.out->errorString()));
            return kBadUsage;
        }
        return kAllRead;
    }
    if (options.live) {
        if (!runLive) {
            say(console, QStringLiteral("--live cannot be run here"));
            return kBadUsage;
        }
        return runLive(options);
    }
    return runReview(options, console);
}

} // namespace review

#include "review_command.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#include <variant>

#include "input_text.h"
#include "report.h"

namespace review {
namespace {

// More files than this, and the run says how far it has got.
constexpr int kFilesWithoutProgress = 20;
constexpr qint64 kSpoolChunk = qint64(1) << 20;

void say(const Console& console, const QString& message)
{
    console.error(QLatin1String(kProgram) + QLatin1String(": ") + message);
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
    ReportingSink(Report& report, const Console& console, const QString& name)
        : report_(report), console_(console), name_(name)
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

private:
    Report& report_;
    const Console& console_;
    QString name_;
};

// The files named, a folder standing for its *.txt files; what cannot be used is said.
QStringList expandPaths(const QStringList& paths, const Console& console, int& status)
{
    QStringList files;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (isStandardInput(path)) {
            files << path;
        } else if (!info.exists()) {
            say(console, QStringLiteral("%1: no such file or folder").arg(path));
            status = kBadUsage;
        } else if (info.isDir()) {
            const QStringList names = QDir(path).entryList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name);
            if (names.isEmpty()) {
                say(console, QStringLiteral("%1: a folder with no record files (*.txt) in it").arg(path));
                status = kBadUsage;
            }
            for (const QString& name : names)
                files << QDir(path).filePath(name);
        } else {
            files << path;
        }
    }
    return files;
}

bool isOneOf(const QString& output, const QStringList& files)
{
    const QString target = QFileInfo(output).canonicalFilePath();
    if (target.isEmpty())
        return false;
    for (const QString& file : files) {
        if (!isStandardInput(file) && QFileInfo(file).canonicalFilePath() == target)
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

int readFile(const QString& path, Report& report, const Console& console)
{
    const QString name = nameOf(path);
    QFile file;
    QTemporaryFile spooled;
    QIODevice* in = console.in;
    if (!isStandardInput(path)) {
        file.setFileName(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
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

    report.beginFile(name);
    ReportingSink sink(report, console, name);
    const ReadTotals totals = readRecords(*source, sink);
    report.endFile(totals);
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
    return totals.skipped ? kSomeSkipped : kAllRead;
}

} // namespace

QString countOf(qint64 n, const char* one, const char* many)
{
    return QString::number(n) + u' ' + QLatin1String(n == 1 ? one : many);
}

QString usage()
{
    return QStringLiteral("Usage: classnotes-review [--csv | --html] [-o FILE] FILE...\n"
                          "       classnotes-review --help | --version\n"
                          "Reads the tutor's master, send and notes files (a folder: every *.txt file in it;\n"
                          "-: standard input) and writes one report: CSV (the default), one row per record,\n"
                          "or one HTML page. -o FILE is replaced only by a whole report.\n"
                          "Exit status: 0 all read, 1 some stretches skipped, 2 bad usage, a file that cannot\n"
                          "be read, or a report that cannot be written.");
}

std::variant<Options, QString> parseArguments(const QStringList& arguments)
{
    Options options;
    bool formatGiven = false;
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
        } else if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            options.help = true;
        } else if (a == QLatin1String("--version")) {
            options.version = true;
        } else {
            return QStringLiteral("unknown option %1").arg(a);
        }
    }
    if (options.paths.isEmpty() && !options.help && !options.version)
        return QStringLiteral("no record files given");
    return options;
}

int runReview(const Options& options, const Console& console)
{
    int status = kAllRead;
    const QStringList files = expandPaths(options.paths, console, status);
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
            say(console, QStringLiteral("%1: cannot be written: %2").arg(options.output, out->errorString()));
            return kBadUsage;
        }
    }
    const QString outName = options.output.isEmpty() ? QStringLiteral("standard output") : options.output;
    const auto report = options.format == Options::Format::Html ? makeHtmlReport(*out) : makeCsvReport(*out);
    const bool showProgress = console.progress && files.size() > kFilesWithoutProgress;
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (showProgress)
            console.progress(QStringLiteral("reading %1 of %2: %3").arg(i + 1).arg(files.size()).arg(nameOf(files[i])));
        status = std::max(status, readFile(files[i], *report, console));
    }
    if (showProgress)
        console.progress(QString());
    if (!report->finish() || (replace && status != kBadUsage && !saved.commit())) {
        say(console, QStringLiteral("%1: the report could not be written: %2").arg(outName, out->errorString()));
        return kBadUsage;
    }
    if (replace && status == kBadUsage) {
        say(console, QStringLiteral("%1: left as it was, since the report would lack what could not be read")
                         .arg(options.output));
    }
    return status;
}

int reviewMain(const QStringList& arguments, const Console& console)
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
    return runReview(options, console);
}

} // namespace review

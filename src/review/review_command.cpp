#include "review_command.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <variant>

#include "report.h"

namespace review {
namespace {

// More files than this, and the run says how far it has got.
constexpr int kFilesWithoutProgress = 20;

// Hands everything to the report, and tells standard error what had to be skipped.
class ReportingSink final : public ReadSink {
public:
    ReportingSink(Report& report, const Console& console, const QString& path)
        : report_(report), console_(console), path_(path)
    {
    }

    void session(const Session& s) override { report_.session(s); }
    void record(const Record& r) override { report_.record(r); }
    void skipped(const Skipped& s) override
    {
        console_.error(QStringLiteral("%1:%2: skipped %3 bytes: %4").arg(path_).arg(s.line).arg(s.bytes).arg(s.reason));
        report_.skipped(s);
    }

private:
    Report& report_;
    const Console& console_;
    QString path_;
};

// The files named, a folder standing for its *.txt files; what cannot be used is said.
QStringList expandPaths(const QStringList& paths, const Console& console, int& status)
{
    QStringList files;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (!info.exists()) {
            console.error(QStringLiteral("%1: no such file or folder").arg(path));
            status = kBadUsage;
        } else if (info.isDir()) {
            const QStringList names = QDir(path).entryList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name);
            if (names.isEmpty()) {
                console.error(QStringLiteral("%1: a folder with no record files (*.txt) in it").arg(path));
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
        if (QFileInfo(file).canonicalFilePath() == target)
            return true;
    }
    return false;
}

int readFile(const QString& path, Report& report, const Console& console)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        console.error(QStringLiteral("%1: cannot be read: %2").arg(path, file.errorString()));
        return kBadUsage;
    }
    report.beginFile(path);
    ReportingSink sink(report, console, path);
    const ReadTotals totals = readRecords(file, sink);
    report.endFile(totals);
    if (totals.readFailed) {
        console.error(QStringLiteral("%1: reading stopped after %2 bytes: %3")
                          .arg(path)
                          .arg(totals.bytes)
                          .arg(file.errorString()));
        return kBadUsage;
    }
    if (totals.bytes == 0)
        console.error(QStringLiteral("%1: empty, no records in it").arg(path));
    return totals.skipped ? kSomeSkipped : kAllRead;
}

} // namespace

QString usage()
{
    return QStringLiteral("Usage: classnotes-review [--csv | --html] [-o FILE] FILE...\n"
                          "Reads the tutor's master, send and notes files (a folder: every *.txt file in it)\n"
                          "and writes one report: CSV (the default), one row per record, or one HTML page.\n"
                          "Exit status: 0 all read, 1 some stretches skipped, 2 bad usage or unreadable file.");
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
        } else {
            return QStringLiteral("unknown option %1").arg(a);
        }
    }
    if (options.paths.isEmpty() && !options.help)
        return QStringLiteral("no record files given");
    return options;
}

int runReview(const Options& options, const Console& console)
{
    int status = kAllRead;
    const QStringList files = expandPaths(options.paths, console, status);
    if (!options.output.isEmpty() && isOneOf(options.output, files)) {
        console.error(QStringLiteral("%1: is one of the record files read; the report never writes over them")
                          .arg(options.output));
        return kBadUsage;
    }
    // A report file is replaced whole, or not at all; a device (/dev/null, a pipe) is written
    // as it is, never replaced by a file of the same name.
    const QFileInfo target(options.output);
    const bool replace = !options.output.isEmpty() && (!target.exists() || target.isFile());
    QSaveFile saved(options.output);
    QFile device(options.output);
    QIODevice* out = console.out;
    if (!options.output.isEmpty()) {
        out = replace ? static_cast<QIODevice*>(&saved) : &device;
        if (!out->open(QIODevice::WriteOnly)) {
            console.error(QStringLiteral("%1: cannot be written: %2").arg(options.output, out->errorString()));
            return kBadUsage;
        }
    }
    const auto report = options.format == Options::Format::Html ? makeHtmlReport(*out) : makeCsvReport(*out);
    const bool showProgress = console.progress && files.size() > kFilesWithoutProgress;
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (showProgress)
            console.progress(QStringLiteral("reading %1 of %2: %3").arg(i + 1).arg(files.size()).arg(files[i]));
        status = std::max(status, readFile(files[i], *report, console));
    }
    if (showProgress)
        console.progress(QString());
    const bool written = report->finish() && (!replace || saved.commit());
    if (!written) {
        console.error(QStringLiteral("%1: the report could not be written: %2")
                          .arg(options.output.isEmpty() ? QStringLiteral("standard output") : options.output,
                               out->errorString()));
        return kBadUsage;
    }
    return status;
}

int reviewMain(const QStringList& arguments, const Console& console)
{
    const auto parsed = parseArguments(arguments);
    if (const QString* problem = std::get_if<QString>(&parsed)) {
        console.error(QStringLiteral("classnotes-review: ") + *problem);
        console.error(usage());
        return kBadUsage;
    }
    const Options& options = std::get<Options>(parsed);
    if (options.help) {
        console.out->write(usage().toUtf8() + '\n');
        return kAllRead;
    }
    return runReview(options, console);
}

} // namespace review

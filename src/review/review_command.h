#pragma once

#include <QIODevice>
#include <QString>
#include <QStringList>

#include <functional>
#include <variant>

// The command line of classnotes-review and one run of it.
namespace review {

enum ExitStatus { kAllRead = 0, kSomeSkipped = 1, kBadUsage = 2 };

struct Options {
    enum class Format { Csv, Html, Gradebook };
    Format format = Format::Csv;
    QString output;    // empty: standard output
    QStringList paths; // "-": standard input
    bool bom = true;   // a CSV written to a file starts with a UTF-8 byte-order mark
    bool help = false;
    bool version = false;
    bool live = false;    // --live FOLDER: the class as it happens
    int quietMinutes = 5; // --quiet MINUTES
};

struct Console {
    QIODevice* in = nullptr;                      // standard input, for "-"
    QIODevice* out = nullptr;                     // standard output
    std::function<void(const QString&)> error;    // one line for standard error, as it is
    std::function<void(const QString&)> progress; // unset: no progress line
};

inline constexpr char kProgram[] = "classnotes-review";
// How standard input is named in messages and in the report.
inline constexpr char kStandardInput[] = "standard input";

QString usage();
// A message fit for a terminal: control characters (an escape sequence in a file name would
// retitle or recolour it) written as \xHH.
QString shownOnTerminal(const QString& message);
// "1 byte", "2 bytes".
QString countOf(qint64 n, const char* one, const char* many);
// Options, or the reason they are not usable.
std::variant<Options, QString> parseArguments(const QStringList& arguments);
// Its messages start with the program's name.
int runReview(const Options& options, const Console& console);
// Parses, runs, and says what is wrong with the command line. `runLive` runs --live until
// the program is interrupted (the event loop); unset, --live is refused.
int reviewMain(const QStringList& arguments, const Console& console,
               const std::function<int(const Options&)>& runLive = {});
// The folders below `folder` and itself, walked as the reports walk them (16 levels, a linked
// folder once); `refused` hears of each folder left because it was read already.
QStringList recordFoldersBelow(const QString& folder, const std::function<void(const QString&)>& refused);
// The page --live keeps, checked and opened; its path, or empty after saying why not.
QString livePage(const Options& options, const Console& console);

} // namespace review

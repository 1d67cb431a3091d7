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
    enum class Format { Csv, Html };
    Format format = Format::Csv;
    QString output; // empty: standard output
    QStringList paths;
    bool help = false;
};

struct Console {
    QIODevice* out = nullptr;                     // standard output
    std::function<void(const QString&)> error;    // one line for standard error
    std::function<void(const QString&)> progress; // unset: no progress line
};

QString usage();
// Options, or the reason they are not usable.
std::variant<Options, QString> parseArguments(const QStringList& arguments);
int runReview(const Options& options, const Console& console);
// Parses, runs, and says what is wrong with the command line.
int reviewMain(const QStringList& arguments, const Console& console);

} // namespace review

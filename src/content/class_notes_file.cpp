#include "content/class_notes_file.h"

#include <QLocale>
#include <QStringDecoder>

#include "content/picture_line.h"
#include "platform/code_page.h"

namespace classnotesfile {

namespace {

const QString kParagraphBreak = QStringLiteral("\r\n\r\n");
const QString kLineBreak = QStringLiteral("\r\n");

// A valid UTF-8 file is taken as UTF-8 (a byte-order mark dropped); any other as the code
// page, which every byte sequence is.
QString decoded(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(bytes);
    return utf8.hasError() ? codepage::decode(bytes) : text;
}

bool isHeader(const QString& line)
{
    return line.size() >= 3 && line[0].isDigit() && line[1].isDigit() && line[2].isDigit();
}

QString threeDigits(int n)
{
    return QStringLiteral("%1").arg(n, 3, 10, QLatin1Char('0'));
}

// The line with its escapes replaced; an empty optional and `fault` set for a stray backslash.
std::optional<QString> unescaped(const QString& line, QString& fault)
{
    QString text;
    text.reserve(line.size());
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] != u'\\') {
            text += line[i];
            continue;
        }
        const QChar next = i + 1 < line.size() ? line[i + 1] : QChar();
        ++i;
        if (next == u'p')
            text += kParagraphBreak;
        else if (next == u'n')
            text += kLineBreak;
        else if (next == u's')
            text += u' ';
        else if (next == u'\\')
            text += u'\\';
        else {
            fault = QStringLiteral("a backslash stands for what follows it: \\p a paragraph break, \\n a line break, "
                                   "\\s a blank, \\\\ a backslash; \"\\%1\" is none of them")
                        .arg(next.isNull() ? QString() : QString(next));
            return std::nullopt;
        }
    }
    return text;
}

// What is wrong with one line of the table where it stands; empty when nothing is.
QString lineFault(const QString& line, int& nextSet, const QStringList& routines)
{
    if (const QString outside = codepage::unmappable(line); !outside.isEmpty())
        return QStringLiteral("it holds characters the record files cannot hold: %1").arg(outside);
    if (isHeader(line)) {
        const QString wanted = threeDigits(nextSet) + u'.';
        if (!line.startsWith(wanted))
            return QStringLiteral("the next set's header must begin with \"%1\" (its number in three digits and a "
                                  "full stop), and this one begins with \"%2\"")
                .arg(wanted, line.left(4));
        ++nextSet;
        return {};
    }
    if (nextSet == 1 && !line.isEmpty())
        return QStringLiteral("text before the first set's header \"001.  title\" belongs to no set");
    if (isPictureLine(line) && !routines.contains(routineNameOf(line)))
        return QStringLiteral("the picture line names \"%1\", and there is no such drawing (there are %2)")
            .arg(line.size() > 8 ? routineNameOf(line) : QString(), routines.join(QStringLiteral(", ")));
    return {};
}

} // namespace

Checked read(const QByteArray& bytes, const QStringList& routines, int lastSlot)
{
    QStringList fileLines = decoded(bytes).split(u'\n');
    // Empty lines at the end make no difference to the walk; an editor may add or drop them.
    while (!fileLines.isEmpty() && (fileLines.last().isEmpty() || fileLines.last() == u'\r'))
        fileLines.removeLast();

    Checked checked;
    int nextSet = 1;
    auto fail = [&](int lineNo, const QString& fault) {
        checked.lines.clear();
        checked.faultLine = lineNo;
        checked.fault = fault;
        return checked;
    };
    for (qsizetype i = 0; i < fileLines.size(); ++i) {
        const int lineNo = int(i + 1);
        if (lineNo > lastSlot)
            return fail(lineNo, QStringLiteral("the class notes hold at most %1 lines, and this one has no place")
                                    .arg(QLocale(QLocale::English).toString(lastSlot)));
        QString raw = fileLines[i];
        if (raw.endsWith(u'\r'))
            raw.chop(1);
        if (raw.contains(u'\r'))
            return fail(lineNo, QStringLiteral("it holds a carriage return that ends no line; write \\n for a line "
                                               "break inside a line"));
        QString fault;
        const auto line = unescaped(raw, fault);
        if (!line)
            return fail(lineNo, fault);
        if (fault = lineFault(*line, nextSet, routines); !fault.isEmpty())
            return fail(lineNo, fault);
        checked.lines << *line;
    }
    if (nextSet == 1)
        return fail(0, QStringLiteral("it holds no set; its first line is to be a header such as \"001.  Class "
                                      "Notes 1\""));
    return checked;
}

QByteArray write(const QStringList& lines)
{
    QByteArray bytes;
    for (QString line : lines) {
        line.replace(u'\\', QStringLiteral("\\\\"))
            .replace(kParagraphBreak, QStringLiteral("\\p"))
            .replace(kLineBreak, QStringLiteral("\\n"));
        if (line.endsWith(u' '))
            line = line.chopped(1) + QStringLiteral("\\s");
        bytes += line.toUtf8() + "\r\n";
    }
    return bytes;
}

int setCount(const QStringList& lines)
{
    int count = 0;
    for (const QString& line : lines) {
        if (isHeader(line) && line.size() >= 4 && line[3] == u'.')
            count = std::max(count, line.left(3).toInt());
    }
    return count;
}

} // namespace classnotesfile

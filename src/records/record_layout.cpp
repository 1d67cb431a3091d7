#include "record_layout.h"

#include "platform/runtime_text.h"

namespace records {
namespace {

const QString kIndent(36, u' ');

QString line(const QString& text)
{
    return text + runtimetext::kCrLf;
}

// A record is built in one buffer of its final size: an answer may be megabytes, and a
// chain of sums would copy it once for every line after it.
class Lines {
public:
    explicit Lines(qsizetype longest) { text_.reserve(longest + 512); }
    Lines& operator<<(const QString& text)
    {
        text_ += text;
        text_ += runtimetext::kCrLf;
        return *this;
    }
    Lines& last(const QString& text)
    {
        text_ += text;
        return *this;
    }
    QString take() { return std::move(text_); }

private:
    QString text_;
};

} // namespace

QString sessionHeader(const QString& codeLine, const QString& assignment, const QString& headerLine,
                      const QString& courseTitle, const QString& date)
{
    return line(codeLine) + line(assignment) + line(headerLine) + line(courseTitle) + line(date);
}

QString questionRecord(const QString& time, const QString& shownLine, const QString& answer,
                       std::optional<double> questionNumber)
{
    Lines record(shownLine.size() + answer.size());
    record << kOpeningRule << runtimetext::printZones({kIndent, QString(), time});
    if (questionNumber)
        record.last(runtimetext::kCrLf + runtimetext::kCrLf)
            << runtimetext::printZones({QStringLiteral("`questionNumber"), runtimetext::numberText(*questionNumber)});
    record << shownLine << kOpeningRule << kResponseMarker << answer << kClosingRule;
    return record.take();
}

QString notesRecord(const QString& time, const QString& date, const QString& shownLine, const QString& note,
                    bool endWithLineEnd)
{
    Lines record(shownLine.size() + note.size());
    record << kOpeningRule << runtimetext::printZones({kIndent, QString(), time})
           << runtimetext::printZones({kIndent, date, time}) << shownLine << kOpeningRule << note;
    if (endWithLineEnd)
        record << kClosingRule;
    else
        record.last(runtimetext::printZones({kClosingRule, QString()}));
    return record.take();
}

} // namespace records

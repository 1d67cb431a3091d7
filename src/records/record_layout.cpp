#include "record_layout.h"

#include "platform/runtime_text.h"

namespace records {
namespace {

const QString kIndent(36, u' ');

QString line(const QString& text)
{
    return text + rt::kCrLf;
}

}  // namespace

QString sessionHeader(const QString& codeLine, const QString& assignment, const QString& headerLine,
                      const QString& courseTitle, const QString& date)
{
    return line(codeLine) + line(assignment) + line(headerLine) + line(courseTitle) + line(date);
}

QString questionRecord(const QString& time, const QString& shownLine, const QString& answer,
                       std::optional<double> questionNumber)
{
    QString record = line(kOpeningRule) + line(rt::printZones({kIndent, QString(), time}));
    if (questionNumber)
        record += rt::kCrLf + rt::kCrLf + line(rt::printZones({QStringLiteral("`questionNumber"),
                                                               rt::numberText(*questionNumber)}));
    record += line(shownLine) + line(kOpeningRule) + line(kResponseMarker) + line(answer) + line(kClosingRule);
    return record;
}

QString notesRecord(const QString& time, const QString& date, const QString& shownLine, const QString& note,
                    bool endWithLineEnd)
{
    QString record = line(kOpeningRule) + line(rt::printZones({kIndent, QString(), time})) +
                     line(rt::printZones({kIndent, date, time})) + line(shownLine) + line(kOpeningRule) + line(note);
    record += endWithLineEnd ? line(kClosingRule) : rt::printZones({kClosingRule, QString()});
    return record;
}

}  // namespace records

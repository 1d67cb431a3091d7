#pragma once

#include <QString>

#include <optional>

// The exact text of each record as it goes into the record files. Texts passed in are
// already coded; every line ends with CR LF unless said otherwise.
namespace records {

inline const QString kOpeningRule = QStringLiteral("......!!!!!!!!...................................");
inline const QString kClosingRule = QStringLiteral(".................................................");
inline const QString kResponseMarker = QStringLiteral("RESPONSE -->  ");
inline const QString kNotesMarker = QStringLiteral("NOTES -------> ");
inline const QString kCourseTitle = QStringLiteral("Physics I Class Notes");

// What the answer box shows when a line got no response. The window never records it as it
// stands; the instructor's review flags a text that is only this or starts with it.
inline const QString kAnswerPrompt =
    QStringLiteral("Enter, as appropriate, an answer to the question, a critique of your answer in response to a "
                   "given answer, your insights regarding the situation at this point, notes to yourself, or just an "
                   "OK.\r\n\r\nAlways critique your solutions by describing any insights you had or errors you makde, "
                   "and by explaining how you can make use of the insight or how you now know how to avoid certain "
                   "errors.  Also pose for the instructor any question or questions that you have related to the "
                   "problem or series of problems.");

QString sessionHeader(const QString& codeLine, const QString& assignment, const QString& headerLine,
                      const QString& courseTitle, const QString& date);

// The master file's question record carries the question-number line; the send file's does not.
QString questionRecord(const QString& time, const QString& line, const QString& answer,
                       std::optional<double> questionNumber);

// The send and notes files end the record on the closing rule, padded to the next
// print zone, without a line end.
QString notesRecord(const QString& time, const QString& date, const QString& line, const QString& note,
                    bool endWithLineEnd);

} // namespace records

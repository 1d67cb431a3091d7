#pragma once

#include <QString>

#include <optional>

#include "content/course_texts.h"

// The exact text of each record as it goes into the record files. Texts passed in are
// already coded; every line ends with CR LF unless said otherwise.
namespace records {

inline const QString kOpeningRule = QStringLiteral("......!!!!!!!!...................................");
inline const QString kClosingRule = QStringLiteral(".................................................");
inline const QString kResponseMarker = QStringLiteral("RESPONSE -->  ");
inline const QString kNotesMarker = QStringLiteral("NOTES -------> ");
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

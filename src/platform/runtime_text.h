#pragma once

#include <QString>
#include <QStringList>

// The text work that the tutor's records and prompts rely on.
namespace runtimetext {

inline const QString kCrLf = QStringLiteral("\r\n");

// The number formed by the leading characters (blanks skipped, optional sign, digits,
// one decimal point); 0 when there is none.
double leadingNumber(const QString& text);

// A number as the record files write it: a blank or minus for its sign, the shortest
// decimal digits, and one trailing blank (50000 -> " 50000 ").
QString numberText(double value);

// A number as decimal text without blanks (the shortest digits, "-" for negatives).
QString plainNumber(double value);

// Items of one output line, each after the first starting at the next print zone
// (zones of 14 columns; an empty item takes a zone of its own).
QString printZones(const QStringList& items);

// Rounds to the nearest whole number, ties to the even one.
long long roundHalfEven(double value);

// Splits file text into lines ending at CR LF or a lone CR (a lone LF stays in its line);
// a final line without a line end counts, an empty tail does not.
QStringList splitRecordLines(const QString& text);

// First n characters, and the rest from 1-based position p (both safe past the end).
QString left(const QString& text, qsizetype n);
QString midFrom(const QString& text, qsizetype position);

} // namespace runtimetext

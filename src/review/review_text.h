#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The record files' bytes turned into what the reports hold: UTF-8, escaped for CSV or
// HTML, and what the instructor is told about a text.
namespace review {

// Through the program's code page: every byte becomes its character, none is lost.
void appendUtf8(QByteArray& out, QByteArrayView recordBytes);

// RFC 4180: quoted, with quotes doubled, when the field holds a comma, a quote or a line end.
void appendCsvField(QByteArray& out, QByteArrayView utf8);
void appendCsvRecordField(QByteArray& out, QByteArrayView recordBytes);

// Text for an element's content or a quoted attribute: & < > " escaped.
void appendHtml(QByteArray& out, QByteArrayView utf8);
void appendHtmlRecordText(QByteArray& out, QByteArrayView recordBytes);

enum class TextFlag { None, Empty, OnlyReminder, StartsWithReminder };
// Empty: nothing but blanks and line ends. The reminder is the answer box's prompt.
TextFlag flagOf(QByteArrayView recordBytes);

// The length of the leading ASCII run of the bytes, eight at a time.
qsizetype asciiRun(const char* p, qsizetype size);

} // namespace review

#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The record files' bytes turned into what the reports hold: UTF-8, escaped for CSV or
// HTML, and what the instructor is told about a text.
namespace review {

// Through the program's code page: every byte becomes its character, none is lost.
void appendUtf8(QByteArray& out, QByteArrayView recordBytes);

// RFC 4180: quoted, with quotes doubled, when the field holds a comma, a quote or a line end.
// A field that starts with = + - @, a tab or a CR, which a spreadsheet would compute, is
// quoted with an apostrophe before it, so that it shows as text. Control characters other than
// tab, CR and LF are written as the page shows them, as their control pictures.
void appendCsvField(QByteArray& out, QByteArrayView utf8);
void appendCsvRecordField(QByteArray& out, QByteArrayView recordBytes);

// Text for an element's content or a quoted attribute: & < > " escaped, control characters
// other than tab, CR and LF shown as their control pictures.
void appendHtml(QByteArray& out, QByteArrayView utf8);
void appendHtmlRecordText(QByteArray& out, QByteArrayView recordBytes);

enum class TextFlag { None, Empty, OnlyReminder, HoldsReminder };
// Empty: nothing but blanks and line ends. The reminder is the answer box's prompt; a text
// holds it when typed before, after or inside it, the reminder left whole around the typing.
TextFlag flagOf(QByteArrayView recordBytes);

// The length of the leading ASCII run of the bytes, eight at a time.
qsizetype asciiRun(const char* p, qsizetype size);

} // namespace review

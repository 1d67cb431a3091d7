#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// An instructor's class notes: a plain text file, one line of the line table per line, in
// UTF-8 or the code page, with CR LF or LF line ends. What a line cannot hold as it stands is
// written with a backslash:
//   \p  a paragraph break (two line breaks)      \n  one line break
//   \s  a blank (at the end of a line, where editors drop blanks)   \\  a backslash
namespace classnotesfile {

inline const QString kFileName = QStringLiteral("class_notes.txt");

struct Checked {
    QStringList lines; // line k of the file is slot k of the table; empty when a fault was found
    int faultLine = 0; // the file's line of the first fault; 0 for a fault of the whole file
    QString fault;     // empty when the file can be used

    bool usable() const { return fault.isEmpty(); }
};

// Reads and checks the whole file before any of it is used: the sets' headers numbered 001
// on without a gap, every picture line naming one of `routines`, every character one the
// code page holds, no line past `lastSlot`.
Checked read(const QByteArray& bytes, const QStringList& routines, int lastSlot);

// The table's lines as such a file: UTF-8, CR LF line ends. read() gives the same lines back.
QByteArray write(const QStringList& lines);

// The number of the last set's header: 15 for the built-in class notes.
int setCount(const QStringList& lines);

} // namespace classnotesfile

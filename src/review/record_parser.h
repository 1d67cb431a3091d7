#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>

// Reads one stretch of a record file, from one place where an item begins to the next,
// against the layouts that the tutor writes. Everything here is bytes as the files hold them.
namespace review {

enum class Field { Time, Date, Line, Text, Number, CodeLine, Set, HeaderLine, Count };

struct Parsed {
    enum class Type { None, Header, Response, Note };
    Type type = Type::None;
    std::array<QByteArrayView, size_t(Field::Count)> fields;
    qsizetype size = 0; // bytes of the stretch that the item takes; the rest is left over
    QString problem;    // why nothing was read, when type is None

    QByteArrayView field(Field f) const { return fields[size_t(f)]; }
};

Parsed parseStretch(QByteArrayView stretch);

// The opening rule, its line end and the indent: what every record starts with, right
// before its time.
QByteArrayView recordStartPattern();
// The line end and text that come right after a session header's code line.
QByteArrayView headerAnchor();

// A clock time hh:mm:ss that a day holds (00:00:00 to 23:59:59).
bool isTimeAt(QByteArrayView bytes, qsizetype at);
// Digits in the shape of one: where a record starts, even one with an impossible time, which
// is then named rather than taken into the text of the record before it.
bool hasTimeShapeAt(QByteArrayView bytes, qsizetype at);
// Where the code line begins that ends at the header anchor at `anchor`; -1 when the bytes
// before the anchor do not have the shape of a code line.
qsizetype codeLineStart(QByteArrayView bytes, qsizetype anchor);

} // namespace review

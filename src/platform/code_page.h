#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Windows-1252 as a bijection of the 256 byte values: the five unassigned bytes
// stand for the C1 controls of the same number, so every byte survives a round trip.
namespace codepage {

QChar charOf(unsigned char byte);
// -1 when the character has no byte in the code page.
int byteOf(QChar ch);

QString decode(const QByteArray& bytes);
// The characters that have no byte, each once, in order of appearance; empty when all fit.
QString unmappable(const QString& text);
// The same as code points, so that a lone surrogate stays apart from its neighbours.
QList<char32_t> unmappablePoints(const QString& text);
// Only for text that unmappable() accepted; an unmappable character becomes '?'.
QByteArray encode(const QString& text);

} // namespace codepage

#include "code_page.h"

#include <QSet>

#include <array>

namespace codepage {
namespace {

// 0x80..0x9F; the rest of the page equals Latin-1.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

QChar charOf(unsigned char byte)
{
    if (byte >= 0x80 && byte <= 0x9F)
        return QChar(kHighControls[byte - 0x80]);
    return QChar(byte);
}

int byteOf(QChar ch)
{
    const char16_t u = ch.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return u;
    for (int i = 0; i < int(kHighControls.size()); ++i) {
        if (kHighControls[i] == u)
            return 0x80 + i;
    }
    return -1;
}

QString decode(const QByteArray& bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (char b : bytes)
        *out++ = charOf(static_cast<unsigned char>(b));
    return text;
}

QList<char32_t> unmappablePoints(const QString& text)
{
    QList<char32_t> found;
    // A set, not a search of `found`: pasted text in another script can bring thousands
    // of different characters.
    QSet<char32_t> seen;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (byteOf(text[i]) >= 0)
            continue;
        // A character outside the basic plane comes as a surrogate pair; name it whole.
        char32_t point = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            point = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        if (!seen.contains(point)) {
            seen.insert(point);
            found << point;
        }
    }
    return found;
}

QString unmappable(const QString& text)
{
    QString found;
    for (const char32_t point : unmappablePoints(text)) {
        if (QChar::requiresSurrogates(point)) {
            found += QChar(QChar::highSurrogate(point));
            found += QChar(QChar::lowSurrogate(point));
        } else {
            found += QChar(char16_t(point));
        }
    }
    return found;
}

QByteArray encode(const QString& text)
{
    QByteArray bytes(text.size(), Qt::Uninitialized);
    char* out = bytes.data();
    for (QChar ch : text) {
        const int b = byteOf(ch);
        *out++ = static_cast<char>(b >= 0 ? b : '?');
    }
    return bytes;
}

} // namespace codepage

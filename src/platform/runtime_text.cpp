#include "runtime_text.h"

#include <charconv>
#include <cmath>

namespace runtimetext {

double leadingNumber(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    QString digits;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        digits += text[i++];
    bool seenPoint = false;
    bool seenDigit = false;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c >= u'0' && c <= u'9') {
            digits += c;
            seenDigit = true;
        } else if (c == u'.' && !seenPoint) {
            digits += c;
            seenPoint = true;
        } else {
            break;
        }
    }
    if (!seenDigit)
        return 0.0;
    bool ok = false;
    const double value = digits.toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

QString plainNumber(double value)
{
    if (value == 0.0)
        return QStringLiteral("0");
    // Fixed notation: the shortest form may be an exponent (100000 is "1e+05"), which the
    // records never show. 512 characters hold the longest fixed form of any double.
    char buffer[512];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (result.ec != std::errc())
        return QString::number(value, 'g', 17);
    QString text = QString::fromLatin1(buffer, result.ptr - buffer);
    // Shortest form without a leading zero before the point, as the record layouts show numbers.
    if (text.startsWith(QLatin1String("0.")))
        text.remove(0, 1);
    else if (text.startsWith(QLatin1String("-0.")))
        text.remove(1, 1);
    return text;
}

QString numberText(double value)
{
    const QString digits = plainNumber(value);
    if (digits.startsWith(u'-'))
        return digits + u' ';
    return u' ' + digits + u' ';
}

QString printZones(const QStringList& items)
{
    constexpr qsizetype kZone = 14;
    QString line;
    for (qsizetype n = 0; n < items.size(); ++n) {
        if (n > 0) {
            const qsizetype next = (line.size() / kZone + 1) * kZone;
            line.append(QString(next - line.size(), u' '));
        }
        line += items[n];
    }
    return line;
}

long long roundHalfEven(double value)
{
    return static_cast<long long>(std::nearbyint(value));
}

QStringList splitRecordLines(const QString& text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\r')
            continue;
        lines << text.mid(start, i - start);
        if (i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines << text.mid(start);
    return lines;
}

QString left(const QString& text, qsizetype n)
{
    return text.left(std::max<qsizetype>(n, 0));
}

QString midFrom(const QString& text, qsizetype position)
{
    if (position < 1)
        position = 1;
    return position > text.size() ? QString() : text.mid(position - 1);
}

} // namespace runtimetext

#include "platform/code_page.h"
#include "platform/runtime_text.h"
#include "records/record_book.h"
#include "session/session.h"

// Records are written in plain form: the coding was switched off, but every text still
// passes through here so that it can be switched on again in one place.
QString RecordBook::code(const QString& a, double) const
{
    return a;
}

std::optional<QString> RecordBook::decode(const QString& a, double codeNbr) const
{
    QString result;
    result.reserve(a.size());
    for (const QChar ch : a) {
        const int c = codepage::byteOf(ch);
        if (c < 0)
            return std::nullopt; // not a character of the record files at all
        if (c == 32) {
            result += u' ';
            continue;
        }
        double computed = 0;
        if (c < 66)
            computed = (c + 209) - codeNbr;
        else if (c > 118)
            computed = (c - codeNbr) - 100;
        else
            continue;
        // Checked before rounding, so that no code number, however large or not a number at all,
        // reaches a conversion it cannot survive.
        if (!(computed > -0.5 && computed < 255.5))
            return std::nullopt;
        const long long n = runtimetext::roundHalfEven(computed);
        if (n < 0 || n > 255)
            return std::nullopt;
        result += codepage::charOf(static_cast<unsigned char>(n));
    }
    return result;
}

QString RecordBook::makeCodeLine(double codeNbr)
{
    QString line;
    for (double counter = 1; counter <= codeNbr; ++counter) {
        // In single precision, as the generator gives it: a double sum would round some ties
        // the other way and give other characters.
        if (session_.random().next() < 0.1f) {
            const float r2 = session_.random().next();
            line += codepage::charOf(static_cast<unsigned char>(runtimetext::roundHalfEven(r2 * 50.0f + 66.0f)));
        }
        const float r3 = session_.random().next();
        line += codepage::charOf(static_cast<unsigned char>(runtimetext::roundHalfEven(r3 * 137.0f + 118.0f)));
    }
    return line;
}

#include "review_text.h"

#include <QString>

#include <array>
#include <cstring>

#include "platform/code_page.h"
#include "records/record_layout.h"

namespace review {
namespace {

struct Utf8Table {
    std::array<QByteArray, 256> of;
};

const Utf8Table& utf8Table()
{
    static const Utf8Table table = [] {
        Utf8Table t;
        for (int b = 0; b < 256; ++b)
            t.of[size_t(b)] = QString(codepage::charOf(uchar(b))).toUtf8();
        return t;
    }();
    return table;
}

bool needsQuotes(QByteArrayView bytes)
{
    // memchr runs a vector at a time; four of them beat one loop over the bytes.
    if (bytes.isEmpty())
        return false;
    for (const char special : {',', '"', '\r', '\n'}) {
        if (std::memchr(bytes.data(), special, size_t(bytes.size())))
            return true;
    }
    return false;
}

using Append = void (*)(QByteArray&, QByteArrayView);

void appendAsIs(QByteArray& out, QByteArrayView bytes)
{
    out.append(bytes);
}

// Control characters other than tab and the line ends have no place in a page: each is
// shown by its Unicode control picture (NUL as U+2400 and so on, DEL as U+2421).
const char* const kControlPictures[33] = {
    "\u2400", "\u2401", "\u2402", "\u2403", "\u2404", "\u2405", "\u2406", "\u2407", "\u2408", nullptr,  nullptr,
    "\u240B", "\u240C", nullptr,  "\u240E", "\u240F", "\u2410", "\u2411", "\u2412", "\u2413", "\u2414", "\u2415",
    "\u2416", "\u2417", "\u2418", "\u2419", "\u241A", "\u241B", "\u241C", "\u241D", "\u241E", "\u241F", "\u2421"};

const char* pictureOf(char c)
{
    if (uchar(c) < 0x20)
        return kControlPictures[uchar(c)];
    return c == 0x7F ? kControlPictures[32] : nullptr;
}

// The length of the leading run of printable ASCII (blank to ~), eight bytes at a time.
qsizetype printableRun(const char* p, qsizetype size)
{
    constexpr quint64 kOnes = 0x0101010101010101ULL;
    constexpr quint64 kHighBits = 0x8080808080808080ULL;
    qsizetype n = 0;
    for (quint64 w = 0; n + 8 <= size; n += 8) {
        std::memcpy(&w, p + n, 8);
        const quint64 below20 = (w - 0x20 * kOnes) & ~w;
        const quint64 del = ((w ^ (0x7F * kOnes)) - kOnes) & ~(w ^ (0x7F * kOnes));
        if ((w | below20 | del) & kHighBits)
            break;
    }
    while (n < size && uchar(p[n]) >= 0x20 && uchar(p[n]) < 0x7F)
        ++n;
    return n;
}

// As a page shows them: control characters as their pictures; record bytes through the code
// page, UTF-8 as it is.
template <bool recordBytes> void appendPictured(QByteArray& out, QByteArrayView bytes)
{
    const Utf8Table& table = utf8Table();
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    while (p < end) {
        const qsizetype run = printableRun(p, end - p);
        out.append(p, run);
        p += run;
        if (p == end)
            break;
        if (const char* picture = pictureOf(*p))
            out += picture;
        else if (recordBytes && uchar(*p) >= 0x80)
            out += table.of[uchar(*p)];
        else
            out += *p;
        ++p;
    }
}

// What a spreadsheet takes for the start of a formula (or, for tab and CR, lets one through).
bool startsLikeFormula(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return false;
    switch (bytes.front()) {
    case '=':
    case '+':
    case '-':
    case '@':
    case '\t':
    case '\r':
        return true;
    default:
        return false;
    }
}

void appendCsv(QByteArray& out, QByteArrayView bytes, Append append)
{
    const bool formula = startsLikeFormula(bytes);
    if (!formula && !needsQuotes(bytes)) {
        append(out, bytes);
        return;
    }
    // A leading apostrophe makes a spreadsheet show the cell as text; the quotes keep the
    // field one value for any CSV reader.
    out += formula ? "\"'" : "\"";
    for (qsizetype from = 0;;) {
        const qsizetype quote = bytes.indexOf('"', from);
        append(out, bytes.sliced(from, (quote < 0 ? bytes.size() : quote) - from));
        if (quote < 0)
            break;
        out += "\"\"";
        from = quote + 1;
    }
    out += '"';
}

const char* entityOf(char c)
{
    if (const char* picture = pictureOf(c))
        return picture;
    switch (c) {
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '"':
        return "&quot;";
    default:
        return nullptr;
    }
}

void appendHtmlWith(QByteArray& out, QByteArrayView bytes, Append append)
{
    qsizetype from = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (const char* entity = entityOf(bytes[i])) {
            append(out, bytes.sliced(from, i - from));
            out += entity;
            from = i + 1;
        }
    }
    append(out, bytes.sliced(from));
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

QByteArrayView trimmedEnd(QByteArrayView bytes)
{
    while (!bytes.isEmpty() && isBlank(bytes.back()))
        bytes.chop(1);
    return bytes;
}

} // namespace

void appendUtf8(QByteArray& out, QByteArrayView recordBytes)
{
    const Utf8Table& table = utf8Table();
    const char* p = recordBytes.data();
    const char* const end = p + recordBytes.size();
    while (p < end) {
        const qsizetype run = asciiRun(p, end - p);
        out.append(p, run);
        for (p += run; p < end && uchar(*p) >= 0x80; ++p)
            out += table.of[uchar(*p)];
    }
}

void appendCsvField(QByteArray& out, QByteArrayView utf8)
{
    appendCsv(out, utf8, appendPictured<false>);
}

void appendCsvRecordField(QByteArray& out, QByteArrayView recordBytes)
{
    appendCsv(out, recordBytes, appendPictured<true>);
}

void appendHtml(QByteArray& out, QByteArrayView utf8)
{
    appendHtmlWith(out, utf8, appendAsIs);
}

void appendHtmlRecordText(QByteArray& out, QByteArrayView recordBytes)
{
    appendHtmlWith(out, recordBytes, appendUtf8);
}

TextFlag flagOf(QByteArrayView recordBytes)
{
    static const QByteArray reminder = codepage::encode(records::kAnswerPrompt);
    const QByteArrayView text = trimmedEnd(recordBytes);
    if (std::all_of(text.begin(), text.end(), isBlank))
        return TextFlag::Empty;
    if (text == reminder)
        return TextFlag::OnlyReminder;
    if (text.contains(reminder))
        return TextFlag::HoldsReminder;
    // Typed into the reminder: its start before the typing, its end after it.
    qsizetype head = 0;
    while (head < reminder.size() && head < text.size() && text[head] == reminder[head])
        ++head;
    qsizetype tail = 0;
    while (tail < reminder.size() - head && tail < text.size() - head &&
           text[text.size() - 1 - tail] == reminder[reminder.size() - 1 - tail])
        ++tail;
    return head + tail == reminder.size() ? TextFlag::HoldsReminder : TextFlag::None;
}

qsizetype asciiRun(const char* p, qsizetype size)
{
    constexpr quint64 kHighBits = 0x8080808080808080ULL;
    qsizetype n = 0;
    for (quint64 word = 0; n + 8 <= size; n += 8) {
        std::memcpy(&word, p + n, 8);
        if (word & kHighBits)
            break;
    }
    while (n < size && uchar(p[n]) < 0x80)
        ++n;
    return n;
}

} // namespace review

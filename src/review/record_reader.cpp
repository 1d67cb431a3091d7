#include "record_reader.h"

#include "record_parser.h"
#include "stretch_splitter.h"

#include <algorithm>

namespace review {
namespace {

constexpr int kSecondsPerDay = 24 * 60 * 60;

int secondsOfDay(QByteArrayView time)
{
    auto two = [&](qsizetype at) { return (time[at] - '0') * 10 + (time[at + 1] - '0'); };
    return two(0) * 3600 + two(3) * 60 + two(6);
}

// Counted in blocks that a byte-wide counter holds, so that the compiler compares and adds
// a whole vector of bytes at a time.
qint64 lineEnds(QByteArrayView bytes)
{
    constexpr qsizetype kBlock = 255;
    qint64 total = 0;
    for (qsizetype at = 0; at < bytes.size(); at += kBlock) {
        const char* p = bytes.data() + at;
        const qsizetype n = std::min(kBlock, bytes.size() - at);
        unsigned char count = 0;
        for (qsizetype i = 0; i < n; ++i)
            count += p[i] == '\n' ? 1 : 0;
        total += count;
    }
    return total;
}

class Reader {
public:
    explicit Reader(ReadSink& sink) : sink_(sink) {}

    void stretch(const Stretch& s)
    {
        if (!s.whole) {
            // Only the first piece shows whether a record started the stretch.
            if (!inPieces_ && s.bytes.startsWith(recordStartPattern())) {
                flushDamage();
                addDamage(s.bytes.size(), QStringLiteral("a record of more than %1 MB, more than the reader holds "
                                                         "at once (an answer that long is not read)")
                                              .arg(StretchSplitter::kMaxHeld >> 20));
            } else {
                addDamage(s.bytes.size(), QStringLiteral("more than %1 MB with no record or session header in it")
                                              .arg(StretchSplitter::kMaxHeld >> 20));
            }
        } else {
            flushDamage();
            parse(s.bytes);
        }
        inPieces_ = !s.whole;
        line_ += lineEnds(s.bytes);
        totals.bytes += s.bytes.size();
    }

    void finish() { flushDamage(); }

    ReadTotals totals;

private:
    void parse(QByteArrayView bytes)
    {
        const Parsed p = parseStretch(bytes);
        switch (p.type) {
        case Parsed::Type::None:
            addDamage(bytes.size(), p.problem);
            return;
        case Parsed::Type::Header:
            header(p);
            break;
        case Parsed::Type::Response:
        case Parsed::Type::Note:
            record(p);
            break;
        }
        if (p.size < bytes.size()) {
            const QByteArrayView rest = bytes.sliced(p.size);
            const qint64 line = line_ + lineEnds(bytes.first(p.size)) + 1;
            sink_.skipped({line, rest.size(), QStringLiteral("text after the end of a record or session header")});
            ++totals.skipped;
        }
    }

    void header(const Parsed& p)
    {
        session_ = {++totals.sessions, p.field(Field::Date).toByteArray(), p.field(Field::Set).toByteArray(),
                    p.field(Field::HeaderLine).toByteArray(), line_ + 1};
        lastTime_.reset();
        sink_.session(session_);
    }

    void record(const Parsed& p)
    {
        Record r;
        r.kind = p.type == Parsed::Type::Note ? Record::Kind::Note : Record::Kind::Response;
        r.session = session_.number;
        r.date = session_.number ? QByteArrayView(session_.date) : p.field(Field::Date);
        r.set = session_.set;
        r.time = p.field(Field::Time);
        r.question = p.field(Field::Number).trimmed();
        r.line = p.field(Field::Line);
        r.text = p.field(Field::Text);
        r.lineNumber = line_ + 1;
        const int now = secondsOfDay(r.time);
        if (session_.number && lastTime_)
            r.seconds = (now - *lastTime_ + kSecondsPerDay) % kSecondsPerDay; // a session may pass midnight
        if (session_.number)
            lastTime_ = now;
        ++totals.records;
        sink_.record(r);
    }

    void addDamage(qint64 bytes, const QString& reason)
    {
        if (!damage_.bytes) {
            damage_.line = line_ + 1;
            damage_.reason = reason;
        }
        damage_.bytes += bytes;
    }

    void flushDamage()
    {
        if (!damage_.bytes)
            return;
        sink_.skipped(damage_);
        ++totals.skipped;
        damage_ = {};
    }

    ReadSink& sink_;
    qint64 line_ = 0; // line ends before the stretch being read
    Session session_;
    std::optional<int> lastTime_;
    Skipped damage_;
    bool inPieces_ = false;
};

} // namespace

ReadTotals readRecords(QIODevice& in, ReadSink& sink, qsizetype chunk)
{
    StretchSplitter splitter(in, chunk);
    Reader reader(sink);
    Stretch s;
    while (splitter.next(s))
        reader.stretch(s);
    reader.finish();
    reader.totals.readFailed = splitter.readFailed();
    return reader.totals;
}

} // namespace review

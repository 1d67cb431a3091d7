#include <QTest>

#include "platform/code_page.h"
#include "records/record_layout.h"
#include "reliability/record_checker.h"
#include "storage/session_index.h"

using namespace recordcheck;

namespace {

const QString kShownLine = QStringLiteral("** v = 12 m / 4 s **\r\n\r\nso 3 m/s.");
constexpr int kClassNotes = 10;

struct Written {
    Stamp stamp;
    QString body;
};

Written written(int writer, int run, int seq, RecordKind kind, qsizetype size)
{
    std::mt19937_64 random(quint64(writer * 1000 + seq));
    Written w{{{writer, run, seq}, kind, kClassNotes, size, 0, crc32(codepage::encode(kShownLine))},
              makeBody(random, size)};
    w.stamp.bodyCrc = crc32(codepage::encode(w.body));
    return w;
}

// The record as the program lays it out for one file.
QByteArray recordIn(const Written& w, FileKind file)
{
    const QString answer = answerText(w.stamp, w.body);
    if (w.stamp.kind == RecordKind::Response)
        return codepage::encode(records::questionRecord(
            QStringLiteral("10:15:30"), kShownLine, answer,
            file == FileKind::Master ? std::optional<double>(kClassNotes * 10000.0) : std::nullopt));
    return codepage::encode(records::notesRecord(QStringLiteral("10:15:30"), QStringLiteral("12-08-2026"), kShownLine,
                                                 records::kNotesMarker + answer, file == FileKind::Master));
}

QByteArray header(int seed)
{
    // The shape of a real code line: 20 characters from 118 up, some after one from 66 to 116.
    QString codeLine;
    for (int i = 0; i < 20; ++i) {
        if ((i + seed) % 3 == 0)
            codeLine += codepage::charOf(uchar(66 + (i * 7 + seed) % 50));
        codeLine += codepage::charOf(uchar(118 + (i * 13 + seed) % 137));
    }
    return codepage::encode(
        records::sessionHeader(codeLine, QStringLiteral("assignment #010"), QStringLiteral("010.  `class notes 10"),
                               QStringLiteral("Physics I Class Notes"), QStringLiteral("12-08-2026")));
}

struct Files {
    QList<QByteArray> master;
    QList<QByteArray> send;
    QList<QByteArray> notes;
    Expectation expected;

    void add(const Written& w, bool reported = true)
    {
        master << recordIn(w, FileKind::Master);
        send << recordIn(w, FileKind::Send);
        if (w.stamp.kind == RecordKind::Note)
            notes << recordIn(w, FileKind::Notes);
        if (reported)
            expected.reported << w.stamp;
    }
    void addHeader(int seed)
    {
        master << header(seed);
        send << header(seed);
        ++expected.headersReported;
        ++expected.runsStarted;
    }
    Figures check() const { return recordcheck::check(master.join(), send.join(), notes.join(), expected); }
};

// Two writers, three records each, mixed sizes and kinds, taking turns.
Files twoWriters()
{
    Files f;
    f.addHeader(1);
    f.addHeader(2);
    f.add(written(0, 0, 0, RecordKind::Response, 50));
    f.add(written(1, 0, 0, RecordKind::Note, 5000));
    f.add(written(0, 0, 1, RecordKind::Note, 0));
    f.add(written(1, 0, 1, RecordKind::Response, 65408));
    f.add(written(0, 0, 2, RecordKind::Response, 300));
    f.add(written(1, 0, 2, RecordKind::Note, 2));
    return f;
}

enum class Fault {
    None,
    RecordMissing,
    RecordTwice,
    WriterOrderSwapped,
    RecordsInterleaved,
    ByteChanged,
    TornInFlightThenRecord,
    TinyTornInFlightThenRecord,
    TornInFlightThenHeader,
    ReportedRecordTorn,
    TornWithoutKill,
    AnswerInNotesFile,
    HeaderTorn,
    WrongQuestionNumber,
    NotesRecordEndsWrongInSend,
};

enum class Tear { InFlight, Reported, Unexplained };

// The first `keep` bytes of a record of writer 0 that a kill cut short, in the master file.
void addTorn(Files& f, qsizetype keep, Tear tear)
{
    const Written cut = written(0, 0, 3, RecordKind::Response, 4000);
    f.master << recordIn(cut, FileKind::Master).left(keep);
    if (tear == Tear::Reported)
        f.expected.reported << cut.stamp;
    if (tear == Tear::InFlight)
        f.expected.inFlight.insert(cut.stamp.id);
    f.expected.kills = tear == Tear::Unexplained ? 0 : 1;
}

Files withFault(Fault fault)
{
    Files f = twoWriters();
    switch (fault) {
    case Fault::None:
        break;
    case Fault::RecordMissing:
        f.master.removeAt(4);
        break;
    case Fault::RecordTwice:
        f.master.insert(5, f.master[5]);
        break;
    case Fault::WriterOrderSwapped:
        f.master.swapItemsAt(4, 6);
        break;
    case Fault::RecordsInterleaved: {
        const QByteArray other = f.master.takeAt(5);
        f.master[4].insert(f.master[4].size() / 2, other);
        break;
    }
    case Fault::ByteChanged:
        f.master[3][f.master[3].size() - 100] = '~';
        break;
    case Fault::TornInFlightThenRecord:
        addTorn(f, 2000, Tear::InFlight);
        f.add(written(1, 0, 3, RecordKind::Response, 10));
        break;
    case Fault::TinyTornInFlightThenRecord:
        addTorn(f, 10, Tear::InFlight);
        f.add(written(1, 0, 3, RecordKind::Note, 10));
        break;
    case Fault::TornInFlightThenHeader: {
        const qsizetype inMarker =
            recordIn(written(0, 0, 3, RecordKind::Response, 4000), FileKind::Master).indexOf("RESPONSE") + 5;
        addTorn(f, inMarker, Tear::InFlight);
        f.addHeader(3);
        f.add(written(1, 1, 0, RecordKind::Note, 10));
        break;
    }
    case Fault::ReportedRecordTorn:
        addTorn(f, 2000, Tear::Reported);
        break;
    case Fault::TornWithoutKill:
        addTorn(f, 100, Tear::Unexplained);
        break;
    case Fault::AnswerInNotesFile:
        f.notes << recordIn(written(0, 0, 0, RecordKind::Response, 50), FileKind::Notes);
        break;
    case Fault::HeaderTorn:
        f.master[1].chop(5);
        break;
    case Fault::WrongQuestionNumber:
        f.master[2].replace("100000", "50000");
        break;
    case Fault::NotesRecordEndsWrongInSend:
        f.send[3].replace(f.send[3].size() - 7, 7, "\r\n");
        break;
    }
    return f;
}

// A session's id in the index: writer w's run is ...000w.
QByteArray sessionOf(int writer)
{
    return QByteArray(15, '0') + QByteArray::number(writer, 16);
}

// The entries a tutor would have written for the files: the two sessions, then each item of
// master, send and notes (the k-th header is writer k's).
QList<sessionindex::Entry> indexOf(const Files& f)
{
    using sessionindex::PlaceEntry;
    QList<sessionindex::Entry> entries;
    for (int w = 0; w < 2; ++w)
        entries << sessionindex::SessionEntry{sessionOf(w),
                                              QStringLiteral("010"),
                                              QStringLiteral("pc"),
                                              QStringLiteral("12-08-2026"),
                                              QStringLiteral("10:15:30"),
                                              QStringLiteral("Writer %1").arg(w)};
    const std::array<std::pair<const char*, FileKind>, 3> files{
        {{"m", FileKind::Master}, {"s", FileKind::Send}, {"n", FileKind::Notes}}};
    for (const auto& [name, kind] : files) {
        const QList<QByteArray>& chunks = kind == FileKind::Master ? f.master
                                          : kind == FileKind::Send ? f.send
                                                                   : f.notes;
        int headers = 0;
        for (const Item& item : parseFile(chunks.join(), kind)) {
            const bool header = item.type == Item::Type::Header;
            entries << PlaceEntry{sessionOf(header ? headers++ : item.stamp->id.writer),
                                  header ? PlaceEntry::Kind::Header : PlaceEntry::Kind::Record,
                                  QString::fromLatin1(name), item.offset, item.size};
        }
    }
    return entries;
}

} // namespace

Q_DECLARE_METATYPE(Fault)

class TestReliabilityChecker : public QObject {
    Q_OBJECT
private slots:
    void findsEveryFault_data();
    void findsEveryFault();
    void findsRecordsInOnlySomeFiles_data();
    void findsRecordsInOnlySomeFiles();
    void checksTheIndex_data();
    void checksTheIndex();
    void stampsAndReportsRoundTrip();
    void bodiesHaveTheirSizeAndStayInTheCodePage();
    void logLinesCutShortAreNotReports();
};

void TestReliabilityChecker::findsEveryFault_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("lost");
    QTest::addColumn<int>("duplicated");
    QTest::addColumn<int>("torn");
    QTest::addColumn<int>("tornInFlight");
    QTest::addColumn<int>("outOfOrder");
    QTest::addColumn<int>("unexpected");
    QTest::addColumn<int>("headerProblems");
    // Counts are summed over the master, send and notes files.
    QTest::newRow("all whole") << Fault::None << 0 << 0 << 0 << 0 << 0 << 0 << 0;
    QTest::newRow("a record missing") << Fault::RecordMissing << 1 << 0 << 0 << 0 << 0 << 0 << 0;
    QTest::newRow("a record twice") << Fault::RecordTwice << 0 << 1 << 0 << 0 << 0 << 0 << 0;
    QTest::newRow("a writer's records swapped") << Fault::WriterOrderSwapped << 0 << 0 << 0 << 0 << 1 << 0 << 0;
    QTest::newRow("one record inside another") << Fault::RecordsInterleaved << 1 << 0 << 2 << 0 << 0 << 0 << 0;
    QTest::newRow("one byte changed") << Fault::ByteChanged << 1 << 0 << 1 << 0 << 0 << 0 << 0;
    QTest::newRow("torn in flight, record after") << Fault::TornInFlightThenRecord << 0 << 0 << 1 << 1 << 0 << 0 << 0;
    QTest::newRow("ten bytes torn in flight, record after")
        << Fault::TinyTornInFlightThenRecord << 0 << 0 << 1 << 1 << 0 << 0 << 0;
    QTest::newRow("torn in a word in flight, header after")
        << Fault::TornInFlightThenHeader << 0 << 0 << 1 << 1 << 0 << 0 << 0;
    QTest::newRow("a reported record torn") << Fault::ReportedRecordTorn << 2 << 0 << 1 << 0 << 0 << 0 << 0;
    QTest::newRow("torn with no kill") << Fault::TornWithoutKill << 0 << 0 << 1 << 0 << 0 << 0 << 0;
    QTest::newRow("an answer in the notes file") << Fault::AnswerInNotesFile << 0 << 0 << 0 << 0 << 0 << 1 << 0;
    QTest::newRow("a header cut short") << Fault::HeaderTorn << 0 << 0 << 1 << 0 << 0 << 0 << 1;
    QTest::newRow("a wrong question number") << Fault::WrongQuestionNumber << 1 << 0 << 1 << 0 << 0 << 0 << 0;
    QTest::newRow("a note in the send file with a line end")
        << Fault::NotesRecordEndsWrongInSend << 1 << 0 << 1 << 0 << 0 << 0 << 0;
}

void TestReliabilityChecker::findsEveryFault()
{
    QFETCH(Fault, fault);
    QFETCH(int, lost);
    QFETCH(int, duplicated);
    QFETCH(int, torn);
    QFETCH(int, tornInFlight);
    QFETCH(int, outOfOrder);
    QFETCH(int, unexpected);
    QFETCH(int, headerProblems);
    const Figures figures = withFault(fault).check();
    auto sum = [&](int FileFigures::*field) {
        return figures.master.*field + figures.send.*field + figures.notes.*field;
    };
    QVERIFY2(sum(&FileFigures::lost) == lost, qPrintable(figures.table()));
    QCOMPARE(sum(&FileFigures::duplicated), duplicated);
    QCOMPARE(sum(&FileFigures::torn), torn);
    QCOMPARE(sum(&FileFigures::tornInFlight), tornInFlight);
    QCOMPARE(sum(&FileFigures::outOfOrder), outOfOrder);
    QCOMPARE(sum(&FileFigures::unexpected), unexpected);
    QCOMPARE(sum(&FileFigures::headerProblems), headerProblems);
    QCOMPARE(figures.faults() == 0, fault == Fault::None || fault == Fault::TornInFlightThenRecord ||
                                        fault == Fault::TinyTornInFlightThenRecord ||
                                        fault == Fault::TornInFlightThenHeader);
}

void TestReliabilityChecker::findsRecordsInOnlySomeFiles_data()
{
    QTest::addColumn<RecordKind>("kind");
    QTest::addColumn<QList<FileKind>>("holding");
    QTest::addColumn<int>("partial");
    using K = FileKind;
    QTest::newRow("answer in master only") << RecordKind::Response << QList<K>{K::Master} << 1;
    QTest::newRow("answer in send only") << RecordKind::Response << QList<K>{K::Send} << 1;
    QTest::newRow("answer in both") << RecordKind::Response << QList<K>{K::Master, K::Send} << 0;
    QTest::newRow("answer in neither") << RecordKind::Response << QList<K>{} << 0;
    QTest::newRow("note missing from notes") << RecordKind::Note << QList<K>{K::Master, K::Send} << 1;
    QTest::newRow("note in all three") << RecordKind::Note << QList<K>{K::Master, K::Send, K::Notes} << 0;
}

// The record in flight at a kill may be in none of its files or in all of them, never in some.
void TestReliabilityChecker::findsRecordsInOnlySomeFiles()
{
    QFETCH(RecordKind, kind);
    QFETCH(QList<FileKind>, holding);
    QFETCH(int, partial);
    Files f = twoWriters();
    const Written w = written(0, 0, 3, kind, 700);
    f.expected.inFlight.insert(w.stamp.id);
    f.expected.kills = 1;
    if (holding.contains(FileKind::Master))
        f.master << recordIn(w, FileKind::Master);
    if (holding.contains(FileKind::Send))
        f.send << recordIn(w, FileKind::Send);
    if (holding.contains(FileKind::Notes))
        f.notes << recordIn(w, FileKind::Notes);
    const Figures figures = f.check();
    QVERIFY2(figures.partial == partial, qPrintable(figures.table()));
    QCOMPARE(figures.faults(), partial);
}

void TestReliabilityChecker::checksTheIndex_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("found"); // missing, wrong, duplicated, dangling, damaged; faults
    QTest::newRow("every item named once") << ""
                                           << "0 0 0 0 0; 0";
    QTest::newRow("a record without its entry") << "drop"
                                                << "1 0 0 0 0; 1";
    QTest::newRow("an entry a byte short") << "short"
                                           << "0 1 0 0 0; 1";
    QTest::newRow("a record in another writer's session") << "other"
                                                          << "0 1 0 0 0; 1";
    QTest::newRow("a run in two sessions") << "split"
                                           << "0 1 0 0 0; 1";
    QTest::newRow("an entry twice") << "twice"
                                    << "0 0 1 0 0; 1";
    QTest::newRow("an entry at no item") << "stray"
                                         << "0 0 0 1 0; 1";
    QTest::newRow("a line cut short") << "torn"
                                      << "0 0 0 0 1; 1";
    QTest::newRow("a line cut short by a kill") << "torn, kill"
                                                << "0 0 0 0 1; 0";
}

void TestReliabilityChecker::checksTheIndex()
{
    QFETCH(QString, fault);
    QFETCH(QString, found);
    Files f = twoWriters();
    QList<sessionindex::Entry> entries = indexOf(f);
    // Entry 6 names master's record w0 r0 s1 (after two sessions, two headers, two records).
    auto& place = std::get<sessionindex::PlaceEntry>(entries[6]);
    QByteArray torn;
    if (fault == QLatin1String("drop")) {
        entries.removeAt(6);
    } else if (fault == QLatin1String("short")) {
        --place.length;
    } else if (fault == QLatin1String("other")) {
        place.session = sessionOf(1);
    } else if (fault == QLatin1String("split")) {
        place.session = sessionOf(10);
        auto again = std::get<sessionindex::SessionEntry>(entries[0]);
        again.id = sessionOf(10);
        entries << again;
    } else if (fault == QLatin1String("twice")) {
        entries << place;
    } else if (fault == QLatin1String("stray")) {
        auto stray = place;
        ++stray.offset;
        entries << stray;
    } else if (fault.startsWith(QLatin1String("torn"))) {
        torn = sessionindex::encode(place).left(20);
    }
    if (fault.endsWith(QLatin1String("kill")))
        f.expected.kills = 1;
    QByteArray index;
    for (const sessionindex::Entry& e : std::as_const(entries))
        index += sessionindex::encode(e);
    const Figures figures =
        recordcheck::check(f.master.join(), f.send.join(), f.notes.join(), f.expected,
                           IndexInput{index + torn, QStringLiteral("m"), QStringLiteral("s"), QStringLiteral("n")});
    const IndexFigures& i = figures.index;
    QVERIFY2(QStringLiteral("%1 %2 %3 %4 %5; %6")
                     .arg(i.missing)
                     .arg(i.wrong)
                     .arg(i.duplicated)
                     .arg(i.dangling)
                     .arg(i.damaged)
                     .arg(figures.faults()) == found,
             qPrintable(figures.table()));
}

void TestReliabilityChecker::stampsAndReportsRoundTrip()
{
    const Stamp stamp{{7, 12, 345}, RecordKind::Note, 15, 65408, 0xdeadbeef, 0x01020304};
    QCOMPARE(parseStampLine(stampLine(stamp).toLatin1()), stamp);
    QCOMPARE(parseStampLine(stampLine(stamp).toLatin1().chopped(1)), std::nullopt);
    WriterLog log;
    parseLog(headerReportLine(7, 12) + reportLine(stamp), log);
    QCOMPARE(log.records, QList<Stamp>{stamp});
    QVERIFY(log.headers.contains({7, 12}));
}

void TestReliabilityChecker::bodiesHaveTheirSizeAndStayInTheCodePage()
{
    std::mt19937_64 random(42);
    for (int i = 0; i < 300; ++i) {
        const qsizetype size = i < 100 ? i : pickBodySize(random);
        QVERIFY(size >= 0 && size <= 65408);
        const QString body = makeBody(random, size);
        QCOMPARE(body.size(), size);
        QVERIFY(codepage::unmappable(body).isEmpty());
        QVERIFY(!body.startsWith(QStringLiteral("\r\n")) && !body.endsWith(QStringLiteral("\r\n")));
        for (const char c : {'@', '#', '.', '!'})
            QVERIFY(!body.contains(QLatin1Char(c)));
    }
}

void TestReliabilityChecker::logLinesCutShortAreNotReports()
{
    const Stamp first{{1, 0, 0}, RecordKind::Response, 3, 10, 1, 2};
    const Stamp second{{1, 0, 1}, RecordKind::Response, 3, 10, 1, 2};
    WriterLog log;
    parseLog(reportLine(first) + reportLine(second).chopped(1), log);
    QCOMPARE(log.records, QList<Stamp>{first});
    // The record after the last one reported is the one in flight at a kill.
    const Expectation e = expectationFromLogs(log, {{1, 0}}, 1);
    QCOMPARE(e.inFlight, (QSet<Identity>{{1, 0, 1}}));
    QCOMPARE(e.kills, 1);
}

QTEST_GUILESS_MAIN(TestReliabilityChecker)
#include "tst_reliability_checker.moc"

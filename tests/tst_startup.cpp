#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include "platform/code_page.h"
#include "support/tutor_setup.h"

namespace {

const QString kHome = QStringLiteral("c:\\tulmarox");
const QString kNetwork = QStringLiteral("i:\\bkp_000416\\My Documents\\distance students\\interactive problems\\lb1");

QByteArray headerAfterCodeLine(const QString& classNotes, const QString& headerLine, const QString& date)
{
    return recordBytes(
        QStringLiteral("assignment #%1\r\n%2\r\nPhysics I Class Notes\r\n%3\r\n").arg(classNotes, headerLine, date));
}

// Splits a file into its session headers' code lines and the rest.
QByteArray firstLine(const QByteArray& bytes, qsizetype from = 0)
{
    const qsizetype end = bytes.indexOf("\r\n", from);
    return bytes.mid(from, end - from);
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void entries_data();
    void entries();
    void promptsInOrder();
    void cancelEndsBeforeAnythingIsWritten_data();
    void cancelEndsBeforeAnythingIsWritten();
    void unknownClassNotesAskAgain_data();
    void unknownClassNotesAskAgain();
    void headerOnEmptyFolder();
    void codeNumberFromTheFirstDraw_data();
    void codeNumberFromTheFirstDraw();
    void secondRunSameDayAndOtherDay();
    void codeLineShape();
    void missingFolderOffersRetry();
    void missingRecordFolder_data();
    void missingRecordFolder();
    void sendFileThatIsAFolder();
    void readOnlyMasterFile();
    void finishesALeftOverRecordBeforeTheHeader();
};

void TestStartup::entries_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("classNotes");
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("next");
    QTest::addColumn<int>("headerSlot");
    QTest::addColumn<QString>("sendName");
    const QDate dec8(2026, 12, 8);
    QTest::newRow("home, 5") << "1"
                             << "5" << dec8 << kHome << "005"
                             << "006" << 110 << "send_1208.txt";
    QTest::newRow("network 2") << "2"
                               << "7" << dec8 << kNetwork << "007"
                               << "008" << 162 << "send_1208.txt";
    QTest::newRow("network 02") << "02"
                                << "10" << dec8 << kNetwork << "010"
                                << "011" << 213 << "send_1208.txt";
    QTest::newRow("network 2.0") << "2.0"
                                 << "015" << dec8 << kNetwork << "015"
                                 << "016" << 275 << "send_1208.txt";
    QTest::newRow("network blank 2") << " 2"
                                     << "1" << dec8 << kNetwork << "001"
                                     << "002" << 1 << "send_1208.txt";
    QTest::newRow("3 is home") << "3"
                               << "1" << dec8 << kHome << "001"
                               << "002" << 1 << "send_1208.txt";
    QTest::newRow("0 is home") << "0"
                               << "1" << dec8 << kHome << "001"
                               << "002" << 1 << "send_1208.txt";
    QTest::newRow("letters are home") << "two"
                                      << "1" << dec8 << kHome << "001"
                                      << "002" << 1 << "send_1208.txt";
    QTest::newRow("2 and more is home") << "2x"
                                        << "1" << dec8 << kHome << "001"
                                        << "002" << 1 << "send_1208.txt";
    QTest::newRow("empty is home") << ""
                                   << "1" << dec8 << kHome << "001"
                                   << "002" << 1 << "send_1208.txt";
    QTest::newRow("16 April") << "1"
                              << "12" << QDate(2027, 4, 16) << kHome << "012"
                              << "013" << 240 << "send_0416.txt";
}

void TestStartup::entries()
{
    QFETCH(QString, kind);
    QFETCH(QString, classNotes);
    QFETCH(QDate, date);
    QFETCH(QString, folder);
    QFETCH(QString, number);
    QFETCH(QString, next);
    QFETCH(int, headerSlot);
    QFETCH(QString, sendName);
    HeadlessTutor tutor;
    QDir(tutor.drives.path())
        .mkpath(QStringLiteral("i/bkp_000416/My Documents/distance students/interactive problems/lb1"));
    tutor.clock.set(QDateTime(date, QTime(9, 0)));
    const Session& w = tutor.start({kind, QStringLiteral("Ann Example"), classNotes});
    QVERIFY(!w.hasEnded());
    QCOMPARE(w.courseTitle(), QStringLiteral("Physics I Class Notes"));
    QCOMPARE(w.dataFolder(), folder);
    QCOMPARE(w.masterFile(), folder + QStringLiteral("\\masterFile.txt"));
    QCOMPARE(w.sendFile(), folder + u'\\' + sendName);
    QCOMPARE(w.notesFile(), folder + QStringLiteral("\\notes_.txt"));
    QCOMPARE(w.classNotesNo(), number);
    QCOMPARE(w.nextClassNotesNo(), next);
    QCOMPARE(w.lineIndex(), headerSlot);
    QVERIFY(w.sessionCodeNbr() >= 19 && w.sessionCodeNbr() <= 28);
    QVERIFY(!w.sendFile().contains(QStringLiteral("Ann")));
    QCOMPARE(w.qaSeparator(), QStringLiteral(" <-<-<-<-  Q/A:   "));
    QCOMPARE(w.answerSeparator(), QStringLiteral(" YOUR ANSWER  ->->->->  "));
    QVERIFY(w.answerPrompt().startsWith(QStringLiteral("Enter, as appropriate, an answer")));
    QVERIFY(w.answerPrompt().contains(QStringLiteral("just an OK.\r\n\r\nAlways critique")));
    QVERIFY(w.answerPrompt().contains(QStringLiteral("errors you makde,")));
    QVERIFY(w.answerPrompt().contains(QStringLiteral("certain errors.  Also pose")));
    QCOMPARE(tutor.prompter.messages, QStringList());
}

void TestStartup::promptsInOrder()
{
    HeadlessTutor tutor;
    tutor.startHome(QStringLiteral("5"));
    QCOMPARE(tutor.prompter.prompts, (QStringList{"Enter 1 for home user, 2 for ZARV LAN user",
                                                  "Your full name:  ", "Number of Class Notes:  "}));
}

void TestStartup::cancelEndsBeforeAnythingIsWritten_data()
{
    QTest::addColumn<int>("answered");
    QTest::newRow("at the kind of user") << 0;
    QTest::newRow("at the name") << 1;
    QTest::newRow("at the class notes") << 2;
}

void TestStartup::cancelEndsBeforeAnythingIsWritten()
{
    QFETCH(int, answered);
    HeadlessTutor tutor;
    const QList<std::optional<QString>> all{QStringLiteral("1"), QStringLiteral("Ann"), QStringLiteral("5")};
    const Session& w = tutor.start(all.mid(0, answered));
    QVERIFY(w.hasEnded());
    QCOMPARE(tutor.ends, 1);
    QCOMPARE(tutor.prompter.prompts.size(), answered + 1);
    QCOMPARE(QDir(tutor.homePath(QString())).entryList(QDir::Files), QStringList());
}

void TestStartup::unknownClassNotesAskAgain_data()
{
    QTest::addColumn<QString>("entry");
    QTest::newRow("empty") << "";
    QTest::newRow("four characters") << "0005";
    QTest::newRow("letters") << "abc";
    QTest::newRow("zero") << "0";
    QTest::newRow("sixteen") << "16";
    QTest::newRow("ninety-nine") << "99";
    QTest::newRow("negative") << "-1";
    QTest::newRow("blanks") << "   ";
    QTest::newRow("ten thousand characters") << QString(10000, u'7');
    QTest::newRow("outside the code page") << QString::fromUtf8("5Δ");
}

void TestStartup::unknownClassNotesAskAgain()
{
    QFETCH(QString, entry);
    HeadlessTutor tutor;
    const Session& w = tutor.start({QStringLiteral("1"), QStringLiteral("Ann"), entry, QStringLiteral("4")});
    QVERIFY(!w.hasEnded());
    QCOMPARE(tutor.prompter.messages.size(), 1);
    QVERIFY(tutor.prompter.messages[0].contains(QStringLiteral("1 to 15")));
    QVERIFY(tutor.prompter.messages[0].contains(u'"' + entry.left(40)));
    QCOMPARE(tutor.prompter.prompts.last(), QStringLiteral("Number of Class Notes:  "));
    QCOMPARE(w.classNotesNo(), QStringLiteral("004"));
    QCOMPARE(w.nextClassNotesNo(), QStringLiteral("005"));
    QCOMPARE(w.lineIndex(), 84);
    // Only the good entry reaches the files.
    QVERIFY(tutor.homeBytes(QStringLiteral("masterFile.txt")).contains("assignment #004\r\n004."));
}

void TestStartup::headerOnEmptyFolder()
{
    HeadlessTutor tutor;
    tutor.startHome(QStringLiteral("5"));
    const QByteArray master = tutor.homeBytes(QStringLiteral("masterFile.txt"));
    const QByteArray send = tutor.homeBytes(QStringLiteral("send_1208.txt"));
    const QByteArray codeLine = firstLine(master);
    QCOMPARE(master, codeLine + "\r\n" + headerAfterCodeLine("005", "005.  `class notes 5", "12-08-2026"));
    QCOMPARE(send, master);
    QVERIFY(!QFile::exists(tutor.homePath(QStringLiteral("notes_.txt"))));
}

void TestStartup::codeNumberFromTheFirstDraw_data()
{
    // Seeds picked for their first draw r: the number is the whole part of 10 r + 19.
    QTest::addColumn<double>("seed");
    QTest::addColumn<int>("codeNbr");
    QTest::newRow("r = 0.000167, the least") << 777.0 << 19;
    QTest::newRow("r = 0.0726, would round up to 20") << 4.0 << 19;
    QTest::newRow("r = 0.465, would round up to 24") << 1.0 << 23;
    QTest::newRow("r = 0.6007") << 0.0 << 25;
    QTest::newRow("r = 0.25 exactly: 21.5, a tie") << 16389.022 << 21;
    QTest::newRow("r = 0.75 exactly: 26.5, a tie") << 13273.289 << 26;
    QTest::newRow("r = 0.999986, would round up to 29") << 0.972 << 28;
    QTest::newRow("seconds with a fraction, r = 0.999987") << 60.073 << 28;
    QTest::newRow("r = 1 - 2^-24, the largest: a float sum reaches 29") << 5751.925 << 28;
}

void TestStartup::codeNumberFromTheFirstDraw()
{
    QFETCH(double, seed);
    QFETCH(int, codeNbr);
    HeadlessTutor tutor;
    tutor.seed = seed;
    const Session& w = tutor.startHome(QStringLiteral("5"));
    QCOMPARE(w.sessionCodeNbr(), codeNbr);
    // The header's code line carries the number as its count of characters 118 to 255.
    const QString codeLine = codepage::decode(firstLine(tutor.homeBytes(QStringLiteral("masterFile.txt"))));
    const auto high =
        std::count_if(codeLine.begin(), codeLine.end(), [](QChar c) { return codepage::byteOf(c) >= 118; });
    QCOMPARE(int(high), codeNbr);
}

void TestStartup::secondRunSameDayAndOtherDay()
{
    HeadlessTutor tutor;
    tutor.startHome(QStringLiteral("5"));
    const QByteArray first = tutor.homeBytes(QStringLiteral("masterFile.txt"));

    tutor.seed = 2.0;
    tutor.startHome(QStringLiteral("1"));
    const QByteArray master2 = tutor.homeBytes(QStringLiteral("masterFile.txt"));
    const QByteArray secondCode = firstLine(master2, first.size());
    const QByteArray secondHeader =
        secondCode + "\r\n" + headerAfterCodeLine("001", "001.  `Class Notes 1", "12-08-2026");
    QCOMPARE(master2, first + secondHeader);
    QCOMPARE(tutor.homeBytes(QStringLiteral("send_1208.txt")), master2);
    QVERIFY(secondCode != firstLine(first));

    tutor.clock.set(QDateTime(QDate(2026, 12, 9), QTime(8, 0)));
    tutor.startHome(QStringLiteral("15"));
    const QByteArray master3 = tutor.homeBytes(QStringLiteral("masterFile.txt"));
    QVERIFY(master3.startsWith(master2));
    const QByteArray send9 = tutor.homeBytes(QStringLiteral("send_1209.txt"));
    QCOMPARE(master3.mid(master2.size()), send9);
    QCOMPARE(send9, firstLine(send9) + "\r\n" + headerAfterCodeLine("015", "015.  Class Notes 15", "12-09-2026"));
    QCOMPARE(tutor.homeBytes(QStringLiteral("send_1208.txt")), master2);
}

void TestStartup::codeLineShape()
{
    // Over many seeds: n to 2n characters, codes 66..116 only before one of 118..255,
    // never a blank, never 117, never ending in 66..116.
    for (int seed = 0; seed < 300; ++seed) {
        HeadlessTutor tutor;
        tutor.seed = seed * 37.25;
        RecordBook& w = tutor.create().records();
        const int n = 19 + seed % 10;
        const QString line = w.makeCodeLine(n);
        QVERIFY(line.size() >= n && line.size() <= 2 * n);
        int high = 0;
        bool lastLow = false;
        for (const QChar ch : line) {
            const int c = codepage::byteOf(ch);
            QVERIFY2((c >= 66 && c <= 116) || (c >= 118 && c <= 255), qPrintable(QString::number(c)));
            const bool low = c <= 116;
            QVERIFY(!(low && lastLow));
            high += low ? 0 : 1;
            lastLow = low;
        }
        QCOMPARE(high, n);
        QVERIFY(!lastLow);
    }
    HeadlessTutor tutor;
    QCOMPARE(tutor.create().records().makeCodeLine(0), QString());
}

void TestStartup::missingFolderOffersRetry()
{
    // The first Retry still finds no folder; the student then makes it and retries again.
    HeadlessTutor tutor(false);
    int offered = 0;
    struct MakeFolderOnSecondOffer : Prompter {
        HeadlessTutor* t;
        int* offered;
        std::optional<QString> ask(const QString& p) override { return t->prompter.ask(p); }
        void tell(const QString& m) override { t->prompter.tell(m); }
        int choose(const QString& m, const QStringList& c) override { return t->prompter.choose(m, c); }
        bool retryOrQuit(const QString& m) override { return t->prompter.retryOrQuit(m); }
        FolderChoice createRetryOrQuit(const QString& m, FolderChoice preferred) override
        {
            t->prompter.messages << m;
            t->prompter.preferredFolderChoices << preferred;
            if (++*offered == 2)
                QDir(t->drives.path()).mkpath(testfiles::kHomeFolder);
            return FolderChoice::Retry;
        }
    } prompter;
    prompter.t = &tutor;
    prompter.offered = &offered;
    tutor.prompterInUse = &prompter;
    const Session& w = tutor.startHome(QStringLiteral("5"));
    QVERIFY(!w.hasEnded());
    QCOMPARE(offered, 2);
    // First the plain question of a first start, Create for Enter; then, the folder still
    // missing, the failure with Retry for Enter.
    using Choice = Prompter::FolderChoice;
    QCOMPARE(tutor.prompter.preferredFolderChoices, (QList<Choice>{Choice::Create, Choice::Retry}));
    QVERIFY(tutor.prompter.messages[0].startsWith(QStringLiteral("Your answers and notes are kept in the folder "
                                                                 "c:\\tulmarox (on disk: ")));
    QVERIFY(tutor.prompter.messages[0].endsWith(QStringLiteral("), which does not exist yet. Create it now?")));
    QVERIFY(tutor.prompter.messages[1].startsWith(
        QStringLiteral("The start of this session could not be recorded in c:\\tulmarox\\masterFile.txt")));
    QVERIFY(tutor.prompter.messages[1].contains(QStringLiteral("does not exist")));
    const QByteArray master = tutor.homeBytes(QStringLiteral("masterFile.txt"));
    QVERIFY(master.endsWith(headerAfterCodeLine("005", "005.  `class notes 5", "12-08-2026")));
    QCOMPARE(master.count("assignment #"), 1);
    QCOMPARE(tutor.homeBytes(QStringLiteral("send_1208.txt")), master);
}

void TestStartup::missingRecordFolder_data()
{
    using Choice = Prompter::FolderChoice;
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("inTheWay"); // "file": a file named c; "read-only": c cannot take a folder
    QTest::addColumn<QList<Choice>>("choices");
    QTest::addColumn<int>("createOffers");
    QTest::addColumn<bool>("started");
    QTest::addColumn<QString>("lastMessage");
    const QList<Choice> create{Choice::Create};
    QTest::newRow("home, Create makes it") << "1"
                                           << "" << create << 1 << true << "";
    QTest::newRow("home, Quit makes nothing") << "1"
                                              << "" << QList<Choice>{Choice::Quit} << 1 << false << "Create";
    QTest::newRow("network folder never offered") << "2"
                                                  << "" << create << 0 << false << "does not exist";
    QTest::newRow("home under a file") << "1"
                                       << "file" << create << 1 << false
                                       << QDir::toNativeSeparators(QStringLiteral("/c")) +
                                              " is a file, not a folder.\n\nMend the folder or file, then choose "
                                              "Retry; or Quit to end the program.";
    QTest::newRow("home under a read-only folder")
        << "1"
        << "read-only" << create << 1 << false
        << "/c is read-only (no permission to create a folder in it).\n\nMend the folder or file, then choose Retry; "
           "or Quit to end the program.";
}

void TestStartup::missingRecordFolder()
{
    QFETCH(QString, kind);
    QFETCH(QString, inTheWay);
    QFETCH(QList<Prompter::FolderChoice>, choices);
    QFETCH(int, createOffers);
    QFETCH(bool, started);
    QFETCH(QString, lastMessage);
    HeadlessTutor tutor(false);
    const QString c = tutor.drives.path() + QStringLiteral("/c");
    bool immutable = false;
    auto unlock = qScopeGuard([&] {
        if (immutable)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), c});
    });
    if (inTheWay == QStringLiteral("file")) {
        QFile file(c);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (inTheWay == QStringLiteral("read-only")) {
        QVERIFY(QDir().mkpath(c));
        QFile::setPermissions(c, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        if (QDir(c).mkdir(QStringLiteral("probe"))) { // root: permissions do not stop it
            QDir(c).rmdir(QStringLiteral("probe"));
            immutable = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), c}) == 0;
            if (!immutable || QDir(c).mkdir(QStringLiteral("probe")))
                QSKIP("cannot make a folder read-only here (root without chattr)");
        }
    }
    tutor.prompter.folderChoices = choices;
    const Session& w = tutor.start({kind, QStringLiteral("Ann"), QStringLiteral("5")});
    QCOMPARE(!w.hasEnded(), started);
    QCOMPARE(tutor.prompter.createOffers.size(), createOffers);
    // A missing home folder is first met as a question, never as a failure.
    if (createOffers > 0) {
        QCOMPARE(tutor.prompter.messages.first(), tutor.prompter.createOffers.first());
        QCOMPARE(tutor.prompter.preferredFolderChoices.first(), Prompter::FolderChoice::Create);
    }
    const QString home = tutor.homePath(QString());
    QCOMPARE(QFileInfo(home).isDir(), started);
    QVERIFY(!QFileInfo::exists(tutor.drives.path() + QStringLiteral("/i")));
    if (started)
        QVERIFY(tutor.homeBytes(QStringLiteral("send_1208.txt")).endsWith("Physics I Class Notes\r\n12-08-2026\r\n"));
    else
        QVERIFY2(tutor.prompter.messages.last().contains(lastMessage), qPrintable(tutor.prompter.messages.last()));
}

void TestStartup::sendFileThatIsAFolder()
{
    HeadlessTutor tutor;
    QDir(tutor.homePath(QString())).mkdir(QStringLiteral("send_1208.txt"));
    tutor.prompter.retries = {false};
    const Session& w = tutor.startHome(QStringLiteral("5"));
    QVERIFY(w.hasEnded());
    QCOMPARE(tutor.prompter.messages.size(), 1);
    const QString message = tutor.prompter.messages[0];
    QVERIFY(message.contains(QStringLiteral("send_1208.txt")));
    QVERIFY(message.contains(QStringLiteral("folder, not a file")));
    // Every file is opened before any is written, so the master file got nothing.
    QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")), QByteArray());
}

void TestStartup::readOnlyMasterFile()
{
    HeadlessTutor tutor;
    const QString master = tutor.homePath(QStringLiteral("masterFile.txt"));
    QVERIFY(testfiles::write(master, "earlier\r\n"));
    if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), master}) != 0) {
        QFile::setPermissions(master, QFileDevice::ReadOwner);
        if (QFile(master).open(QIODevice::Append))
            QSKIP("cannot make a file read-only here (root without chattr)");
    }
    tutor.prompter.retries = {false};
    const Session& w = tutor.startHome(QStringLiteral("5"));
    QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), master});
    QVERIFY(w.hasEnded());
    QVERIFY(tutor.prompter.messages.value(0).contains(QStringLiteral("read-only")));
    QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")), QByteArray("earlier\r\n"));
    QVERIFY(!QFile::exists(tutor.homePath(QStringLiteral("send_1208.txt"))) ||
            tutor.homeBytes(QStringLiteral("send_1208.txt")).isEmpty());
}

// A run killed after the master file took a note and before the send file did.
void TestStartup::finishesALeftOverRecordBeforeTheHeader()
{
    HeadlessTutor t;
    const QByteArray earlier = "earlier\r\n";
    const QByteArray note = "a note\r\n";
    const QString master = t.homePath(QStringLiteral("masterFile.txt"));
    QVERIFY(testfiles::write(master, earlier + note));
    const QList<journal::File> entry{{QStringLiteral("masterFile"), master, earlier.size(), note},
                                     {QStringLiteral("send"), t.homePath(QStringLiteral("send_1208.txt")), 0, note}};
    QVERIFY(testfiles::write(t.journalFolder + QStringLiteral("/1-1-1.entry"), journal::encode(entry)));

    t.startHome(QStringLiteral("3"));

    QCOMPARE(t.prompter.messages.size(), 1);
    QVERIFY(t.prompter.messages.front().contains(QLatin1String("now added to send (it was already in masterFile)")));
    // Once in each file, then the session header.
    const QByteArray send = t.homeBytes(QStringLiteral("send_1208.txt"));
    QVERIFY(send.startsWith(note) && send.size() > note.size());
    QCOMPARE(t.homeBytes(QStringLiteral("masterFile.txt")), earlier + note + send.mid(note.size()));
    QVERIFY(QDir(t.journalFolder).isEmpty());
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"

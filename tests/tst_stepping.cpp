#include <QTest>

#include "support/tutor_setup.h"

// The walk from line to line on the tutor's controller, its boxes kept as texts.

namespace {

// A tutor at set 005's header of a line table of its own that starts at slot 1.
const Session& startOn(HeadlessTutor& tutor, const QStringList& lines)
{
    tutor.useLines(lines);
    return tutor.startHome(QStringLiteral("5"));
}

} // namespace

class TestStepping : public QObject {
    Q_OBJECT
private slots:
    void walk_data();
    void walk();
    void promptComesBackOnlyWithoutAResponse();
    void transcriptIsNewestFirst_data();
    void transcriptIsNewestFirst();
    void endOfTheTableEndsTheWalk();
    void longLineArrivesWhole();
};

void TestStepping::walk_data()
{
    QTest::addColumn<QStringList>("lines"); // slot 1 is the header of set 005
    QTest::addColumn<int>("presses");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("question");
    QTest::addColumn<bool>("pending");
    QTest::addColumn<bool>("ended");
    QTest::addColumn<QString>("drawn"); // the routine drawn, if any

    const QString h = QStringLiteral("005.  `class notes 5");
    QTest::newRow("first line after the header") << QStringList{h, "Q1", "", "A1"} << 1 << "\r\n\r\nQ1" << 2 << "Q1"
                                                 << "" << true << false << "";
    QTest::newRow("empty lines skipped in one press")
        << QStringList{h, "Q1", "", "", "", "A1"} << 2 << "\r\n\r\nQ1\r\n\r\nA1" << 6 << "A1"
        << "" << true << false << "";
    QTest::newRow("marker line sets the number")
        << QStringList{h, "`q012 Speed", "A"} << 1 << "\r\n\r\n`q012 Speed" << 2 << "`q012 Speed"
        << "12" << true << false << "";
    QTest::newRow("capital marker counts") << QStringList{h, "`Q7", "A"} << 1 << "\r\n\r\n`Q7" << 2 << "`Q7"
                                           << "7" << true << false << "";
    QTest::newRow("marker without number is 0")
        << QStringList{h, "`q what", "A"} << 1 << "\r\n\r\n`q what" << 2 << "`q what"
        << "0" << true << false << "";
    QTest::newRow("bare picture marker shown as text")
        << QStringList{h, "`routine", "A"} << 1 << "\r\n\r\n`routine" << 2 << "`routine"
        << "" << false << false << "";
    QTest::newRow("picture line runs and the next line shows")
        << QStringList{h, "`routine graph3", "", "Q after picture"} << 1 << "\r\n\r\nQ after picture" << 4
        << "Q after picture"
        << "" << true << false << "graph3";
    QTest::newRow("two picture lines in a row: the second is text")
        << QStringList{h, "`ROUTINE Graph 1", "`routine graph2"} << 1 << "\r\n\r\n`routine graph2" << 3
        << "`routine graph2"
        << "" << false << false << "graph1";
    QTest::newRow("unknown routine ends") << QStringList{h, "`routine graph9", "Q"} << 1 << "" << 2 << "`routine graph9"
                                          << "" << false << true << "";
    QTest::newRow("next header ends") << QStringList{h, "Q1", "", "006.  `class notes 6", "Q"} << 2 << "\r\n\r\nQ1" << 4
                                      << "006.  `class notes 6"
                                      << "" << true << true << "";
    QTest::newRow("any line starting 006 ends") << QStringList{h, "006 apples"} << 1 << "" << 2 << "006 apples"
                                                << "" << true << true << "";
    QTest::newRow("end of the content ends") << QStringList{h, "Q1"} << 2 << "\r\n\r\nQ1" << 5000 << "Q1"
                                             << "" << false << true << "";
}

void TestStepping::walk()
{
    QFETCH(QStringList, lines);
    QFETCH(int, presses);
    QFETCH(QString, shown);
    QFETCH(int, index);
    QFETCH(QString, current);
    QFETCH(QString, question);
    QFETCH(bool, pending);
    QFETCH(bool, ended);
    QFETCH(QString, drawn);
    HeadlessTutor tutor;
    const Session& s = startOn(tutor, lines);
    for (int i = 0; i < presses; ++i)
        tutor.next();
    QCOMPARE(tutor.boxes.question, shown);
    QCOMPARE(s.lineIndex(), index);
    QCOMPARE(s.currentLine(), current);
    QCOMPARE(s.questionNo(), question);
    QCOMPARE(s.responsePending(), pending);
    QCOMPARE(s.hasEnded(), ended);
    QCOMPARE(tutor.ends, ended ? 1 : 0);
    QCOMPARE(tutor.drawings.drawn, drawn.isEmpty() ? QStringList() : QStringList{drawn});
    QCOMPARE(tutor.prompter.messages, QStringList());
}

void TestStepping::promptComesBackOnlyWithoutAResponse()
{
    HeadlessTutor tutor;
    const Session& s = startOn(tutor, {"005.  `class notes 5", "Q1", "A1", "Q2", "A2", "Q3"});
    // The blank the answer box starts with is not typed text: the first step leaves it.
    tutor.next();
    QCOMPARE(tutor.boxes.answer, QStringLiteral(" "));
    tutor.next();
    QCOMPARE(tutor.boxes.answer, s.answerPrompt());
    // An emptied box ("clear answer") leaves the line waiting for its response.
    tutor.next();
    tutor.boxes.answer.clear();
    QVERIFY(s.responsePending());
    tutor.next();
    QCOMPARE(tutor.boxes.answer, s.answerPrompt());
    tutor.enterResponse(QStringLiteral("an answer"));
    QCOMPARE(tutor.boxes.answer, QString());
    tutor.next();
    QCOMPARE(tutor.boxes.answer, QString());
    QCOMPARE(tutor.boxes.question, QStringLiteral("\r\n\r\nQ3"));
    QCOMPARE(tutor.prompter.messages, QStringList());
}

void TestStepping::transcriptIsNewestFirst_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("actions"); // "next", "response:TEXT" or "note:TEXT"
    QTest::addColumn<QString>("expected");    // {Q} and {A} stand for the two separators

    const QString h = QStringLiteral("005.  `class notes 5");
    QTest::newRow("steps over a picture line") << QStringList{h, "Q1", "", "`routine graph1", "A1"}
                                               << QStringList{"next", "next"} << "{Q}A1{Q}`routine graph1{Q}Q1";
    QTest::newRow("records between steps")
        << QStringList{h, "Q1", "A1", "Q2"} << QStringList{"next", "response:v = 3 m/s", "next", "note:units!", "next"}
        << "{Q}Q2{A}NOTES -------> units!\r\n\r\n{Q}A1{A}v = 3 m/s{Q}Q1";
    QTest::newRow("two records on one step, lines kept")
        << QStringList{h, "Q1", "A1"} << QStringList{"next", "response:one\r\ntwo", "response:three"}
        << "{A}three{A}one\r\ntwo{Q}Q1";
}

void TestStepping::transcriptIsNewestFirst()
{
    QFETCH(QStringList, lines);
    QFETCH(QStringList, actions);
    QFETCH(QString, expected);
    HeadlessTutor tutor;
    const Session& s = startOn(tutor, lines);
    for (const QString& action : actions) {
        const QString text = action.section(u':', 1);
        if (action == QLatin1String("next"))
            tutor.next();
        else if (action.startsWith(QLatin1String("note")))
            tutor.saveAsNotes(text);
        else
            tutor.enterResponse(text);
    }
    expected.replace(QStringLiteral("{Q}"), s.qaSeparator()).replace(QStringLiteral("{A}"), s.answerSeparator());
    QCOMPARE(tutor.prompter.messages, QStringList());
    tutor.tutor->displayEverything(tutor.boxes);
    QCOMPARE(tutor.boxes.question, expected);
}

void TestStepping::endOfTheTableEndsTheWalk()
{
    HeadlessTutor tutor;
    QStringList lines(Session::kLastSlot);
    lines.front() = QStringLiteral("005.  `class notes 5");
    lines.back() = QStringLiteral("last slot");
    const Session& s = startOn(tutor, lines);
    tutor.next();
    QCOMPARE(s.lineIndex(), 5000);
    QCOMPARE(tutor.boxes.question, QStringLiteral("\r\n\r\nlast slot"));
    tutor.next();
    QVERIFY(s.hasEnded());
    QCOMPARE(s.lineIndex(), 5000);
}

void TestStepping::longLineArrivesWhole()
{
    HeadlessTutor tutor;
    const QString longLine = QStringLiteral("** ") + QString(1200, u'x') + QStringLiteral("\r\n\r\n") +
                             QString(1200, u'y') + QStringLiteral(" **");
    startOn(tutor, {"005.  `class notes 5", longLine});
    tutor.next();
    QCOMPARE(tutor.boxes.question, QStringLiteral("\r\n\r\n") + longLine);
}

QTEST_GUILESS_MAIN(TestStepping)
#include "tst_stepping.moc"

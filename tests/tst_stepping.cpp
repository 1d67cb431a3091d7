#include <QTest>

#include "support/tutor_fixture.h"
#include "widgets/picture_box.h"
#include "widgets/text_box.h"

namespace {

// A tutor at set 005's header of a synthetic line table that starts at slot 1.
MainWindow& startOn(Tutor& tutor, const QStringList& lines)
{
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    for (int slot = 0; slot <= Session::kLastSlot; ++slot)
        w.session().setLine(slot, lines.value(slot - 1));
    w.session().moveTo(1);
    return w;
}

// What one graph routine draws into a fresh window; an empty name, what no drawing leaves.
QImage drawing(const QString& graph)
{
    Tutor tutor;
    MainWindow& w = tutor.create();
    if (graph == QLatin1String("graph1"))
        w.graph1();
    else if (graph == QLatin1String("graph3"))
        w.graph3();
    return ui(w).Picture1->drawing();
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
    QTest::addColumn<QString>("drawn"); // the graph in Picture1, if any

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
    Tutor tutor;
    MainWindow& w = startOn(tutor, lines);
    for (int i = 0; i < presses; ++i)
        QTest::mouseClick(ui(w).cmdNextQuestion, Qt::LeftButton);
    QCOMPARE(ui(w).txt_question->text(), shown);
    QCOMPARE(w.session().lineIndex(), index);
    QCOMPARE(w.session().currentLine(), current);
    QCOMPARE(w.session().questionNo(), question);
    QCOMPARE(w.session().responsePending(), pending);
    QCOMPARE(w.hasEnded(), ended);
    QCOMPARE(tutor.ends, ended ? 1 : 0);
    QCOMPARE(ui(w).Picture1->drawing(), drawing(drawn));
    QCOMPARE(tutor.prompter.messages, QStringList());
}

void TestStepping::promptComesBackOnlyWithoutAResponse()
{
    Tutor tutor;
    MainWindow& w = startOn(tutor, {"005.  `class notes 5", "Q1", "A1", "Q2", "A2", "Q3"});
    // The blank the answer box starts with is not typed text: the first step leaves it.
    QTest::mouseClick(ui(w).cmdNextQuestion, Qt::LeftButton);
    QCOMPARE(ui(w).txt_answer->text(), QStringLiteral(" "));
    QTest::mouseClick(ui(w).cmdNextQuestion, Qt::LeftButton);
    QCOMPARE(ui(w).txt_answer->text(), w.session().answerPrompt());
    // "clear answer" empties the box but leaves the line waiting for its response.
    QTest::mouseClick(ui(w).cmdNextQuestion, Qt::LeftButton);
    ui(w).txt_answer->setText(QStringLiteral("to be cleared"));
    QTest::mouseClick(ui(w).cmd_clr_answer, Qt::LeftButton);
    QCOMPARE(ui(w).txt_answer->text(), QString());
    QVERIFY(w.session().responsePending());
    QTest::mouseClick(ui(w).cmdNextQuestion, Qt::LeftButton);
    QCOMPARE(ui(w).txt_answer->text(), w.session().answerPrompt());
    ui(w).txt_answer->setText(QStringLiteral("an answer"));
    QTest::mouseClick(ui(w).cmd_enter_response, Qt::LeftButton);
    QCOMPARE(ui(w).txt_answer->text(), QString());
    QTest::mouseClick(ui(w).cmdNextQuestion, Qt::LeftButton);
    QCOMPARE(ui(w).txt_answer->text(), QString());
    QCOMPARE(ui(w).txt_question->text(), QStringLiteral("\r\n\r\nQ3"));
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
    Tutor tutor;
    MainWindow& w = startOn(tutor, lines);
    for (const QString& action : actions) {
        const QString text = action.section(u':', 1);
        if (action == QLatin1String("next")) {
            QTest::mouseClick(ui(w).cmdNextQuestion, Qt::LeftButton);
            continue;
        }
        ui(w).txt_answer->setText(text);
        QTest::mouseClick(action.startsWith(QLatin1String("note")) ? ui(w).cmd_save_as_notes : ui(w).cmd_enter_response,
                          Qt::LeftButton);
    }
    expected.replace(QStringLiteral("{Q}"), w.session().qaSeparator())
        .replace(QStringLiteral("{A}"), w.session().answerSeparator());
    QCOMPARE(tutor.prompter.messages, QStringList());
    QCOMPARE(w.session().cumulativeText().text(), expected);
    QTest::mouseClick(ui(w).cmd_displayCumulativeText, Qt::LeftButton);
    QCOMPARE(ui(w).txt_question->text(), expected);
}

void TestStepping::endOfTheTableEndsTheWalk()
{
    Tutor tutor;
    MainWindow& w = startOn(tutor, {"005.  `class notes 5"});
    w.session().setLine(5000, QStringLiteral("last slot"));
    QTest::mouseClick(ui(w).cmdNextQuestion, Qt::LeftButton);
    QCOMPARE(w.session().lineIndex(), 5000);
    QCOMPARE(ui(w).txt_question->text(), QStringLiteral("\r\n\r\nlast slot"));
    QTest::mouseClick(ui(w).cmdNextQuestion, Qt::LeftButton);
    QVERIFY(w.hasEnded());
    QCOMPARE(w.session().lineIndex(), 5000);
}

void TestStepping::longLineArrivesWhole()
{
    Tutor tutor;
    const QString longLine = QStringLiteral("** ") + QString(1200, u'x') + QStringLiteral("\r\n\r\n") +
                             QString(1200, u'y') + QStringLiteral(" **");
    MainWindow& w = startOn(tutor, {"005.  `class notes 5", longLine});
    QTest::mouseClick(ui(w).cmdNextQuestion, Qt::LeftButton);
    QCOMPARE(ui(w).txt_question->text(), QStringLiteral("\r\n\r\n") + longLine);
}

QTEST_MAIN(TestStepping)
#include "tst_stepping.moc"

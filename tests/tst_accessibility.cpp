#include <QAccessible>
#include <QDir>
#include <QListWidget>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "support/tutor_fixture.h"
#include "widgets/announcer.h"
#include "widgets/dialog_prompter.h"
#include "widgets/picture_box.h"
#include "widgets/text_box.h"

class TestAccessibility : public QObject {
    Q_OBJECT
private slots:
    void everyControlHasAName();
    void picturesSayWhatTheyHold_data();
    void picturesSayWhatTheyHold();
    void namesForPeople_data();
    void namesForPeople();
    void focusedControlShowsIt_data();
    void focusedControlShowsIt();
    void changesAreSaid_data();
    void changesAreSaid();
    void sayingChangesNoPixel();
    void endsAndDisplaysAreSaid_data();
    void endsAndDisplaysAreSaid();
    void linesAreJoinedWhenSaid_data();
    void linesAreJoinedWhenSaid();
    void alertsTabAsShown_data();
    void alertsTabAsShown();
};

namespace {

// What the window's notifications say, as assistive technology reads them. The offscreen
// platform has no accessibility bridge to pass events through, so the notifications
// themselves are read; tools/check-accessibility hears them spoken.
QStringList notifications(const QWidget& window)
{
    QStringList said;
    for (QWidget* child : window.findChildren<QWidget*>()) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(child);
        if (iface && iface->role() == QAccessible::Notification)
            said << iface->text(QAccessible::Name);
    }
    return said;
}

} // namespace

void TestAccessibility::everyControlHasAName()
{
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    const QList<QWidget*> controls = w.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    QVERIFY(controls.size() >= 25);
    for (QWidget* control : controls) {
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(control);
        QVERIFY2(spoken && !spoken->text(QAccessible::Name).trimmed().isEmpty(), qPrintable(control->objectName()));
    }
}

void TestAccessibility::picturesSayWhatTheyHold_data()
{
    QTest::addColumn<QString>("drawing");
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QStringList>("said");
    QTest::newRow("Picture1 before any drawing") << ""
                                                 << "Picture1" << QStringList{"empty picture"};
    QTest::newRow("Picture2 before any drawing") << ""
                                                 << "Picture2" << QStringList{"empty picture"};
    QTest::newRow("graph1") << "graph1"
                            << "Picture1"
                            << QStringList{"graph: velocity v vs. clock time t.",
                                           "from t = 0, v = 0 to t = 6, v = 4: run 6, rise 4, slope 0.67.",
                                           "A cross marks the point t = 3, v = 2."};
    QTest::newRow("graph2") << "graph2"
                            << "Picture1"
                            << QStringList{
                                   "graph: value y (dollars) vs. clock time t (months).",
                                   "one grid step is 2 in t and 100 in y; the axes cross at t = 0, y = 5000.",
                                   "Segment 1 from t = 3, y = 5000 to t = 7, y = 5300: run 4, rise 300, slope 75.",
                                   "Segment 2 from t = 7, y = 5300 to t = 12, y = 5500: run 5, rise 200, slope 40."};
    QTest::newRow("graph3") << "graph3"
                            << "Picture1"
                            << QStringList{"graph: depth y (dollars) vs. clock time t (seconds).",
                                           "from t = 10, y = 80 to t = 40, y = 40: run 30, rise -40, slope -1.33.",
                                           "from t = 40, y = 40 to t = 90, y = 20: run 50, rise -20, slope -0.4."};
    QTest::newRow("circles") << "venn1"
                             << "Picture1" << QStringList{"diagram: two overlapping circles, regions I to IV"};
    QTest::newRow("letters") << "venn2"
                             << "Picture1"
                             << QStringList{"diagram: two overlapping circles",
                                            "Letters in region I: a, c, f; region II: b, d, e; region III: g, k."};
    QTest::newRow("counts") << "venn3"
                            << "Picture1"
                            << QStringList{"diagram: two overlapping circles",
                                           "Counts in region I: 8; region II: 12; region III: 7; region IV: 8.",
                                           "Total 1st Circle 20, Total 2d Circle 15."};
    QTest::newRow("pendulum") << "pendulum"
                              << "Picture1" << QStringList{"circles of the pendulum experiment"};
    QTest::newRow("Picture2 after graph1") << "graph1"
                                           << "Picture2" << QStringList{"empty picture"};
}

void TestAccessibility::picturesSayWhatTheyHold()
{
    QFETCH(QString, drawing);
    QFETCH(QString, picture);
    QFETCH(QStringList, said);
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    if (drawing == QStringLiteral("pendulum")) {
        QSignalSpy ticks(ui(w).tmr_pend_exp, &QTimer::timeout);
        ui(w).cmd_pend_exp->click();
        QVERIFY(ticks.wait());
        ui(w).tmr_pend_exp->stop();
    } else if (!drawing.isEmpty()) {
        const QHash<QString, void (MainWindow::*)()> procedures{
            {QStringLiteral("graph1"), &MainWindow::graph1}, {QStringLiteral("graph2"), &MainWindow::graph2},
            {QStringLiteral("graph3"), &MainWindow::graph3}, {QStringLiteral("venn1"), &MainWindow::venn1},
            {QStringLiteral("venn2"), &MainWindow::venn2},   {QStringLiteral("venn3"), &MainWindow::venn3}};
        (w.*procedures.value(drawing))();
    }
    QAccessibleInterface* box = QAccessible::queryAccessibleInterface(tutor.control<PictureBox>(qPrintable(picture)));
    QCOMPARE(box->role(), QAccessible::Graphic);
    const QString description = box->text(QAccessible::Description);
    QVERIFY2(description.startsWith(said.first()), qPrintable(description));
    for (const QString& part : said)
        QVERIFY2(description.contains(part), qPrintable(part + u'\n' + description));
}

void TestAccessibility::namesForPeople_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("spoken");
    QTest::newRow("Picture1") << "Picture1"
                              << "diagram";
    QTest::newRow("Picture2") << "Picture2"
                              << "copy of the diagram";
    QTest::newRow("List1") << "List1"
                           << "empty list";
}

void TestAccessibility::namesForPeople()
{
    QFETCH(QString, name);
    QFETCH(QString, spoken);
    Tutor tutor;
    tutor.create();
    auto* control = tutor.control<QWidget>(qPrintable(name));
    QVERIFY(control);
    QCOMPARE(QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name), spoken);
}

void TestAccessibility::focusedControlShowsIt_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("command button") << "cmd_enter_response";
    QTest::newRow("picture box") << "Picture1";
    QTest::newRow("parameter box") << "txt_parameter(0)";
    QTest::newRow("list") << "List1";
}

void TestAccessibility::focusedControlShowsIt()
{
    QFETCH(QString, name);
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto* control = tutor.control<QWidget>(qPrintable(name));
    control->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(control->hasFocus());
    const QImage focused = control->grab().toImage();
    ui(w).txt_answer->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(!control->hasFocus());
    QVERIFY(control->grab().toImage() != focused);
}

void TestAccessibility::changesAreSaid_data()
{
    QTest::addColumn<QString>("press");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("said");
    const QString line = QStringLiteral("<the new line>");
    QTest::newRow("Next: the new line") << "cmdNextQuestion"
                                        << "" << QStringList{line};
    QTest::newRow("a recorded answer") << "cmd_enter_response"
                                       << "v = 3 m/s" << QStringList{line, "Answer recorded"};
    QTest::newRow("a saved note") << "cmd_save_as_notes"
                                  << "units!" << QStringList{line, "Note saved"};
    QTest::newRow("the reminder passes on") << "cmd_enter_response"
                                            << "<reminder>" << QStringList{line};
    QTest::newRow("a failed record") << "cmd_enter_response"
                                     << "<fails>" << QStringList{line};
}

void TestAccessibility::changesAreSaid()
{
    QFETCH(QString, press);
    QFETCH(QString, answer);
    QFETCH(QStringList, said);
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    ui(w).cmdNextQuestion->setFocus(Qt::TabFocusReason);
    QTest::keyClick(ui(w).cmdNextQuestion, Qt::Key_Space);
    said.replace(0, Announcer::spoken(w.session().currentLine()));
    if (answer == QStringLiteral("<reminder>"))
        ui(w).txt_answer->setText(w.session().answerPrompt());
    else if (answer == QStringLiteral("<fails>"))
        QVERIFY(QDir(tutor.homePath(QString())).removeRecursively());
    if (!answer.isEmpty())
        ui(w).txt_answer->setText(answer.startsWith(u'<') ? ui(w).txt_answer->text() : answer);
    auto* button = tutor.control<QWidget>(qPrintable(press));
    if (press != QStringLiteral("cmdNextQuestion")) {
        button->setFocus(Qt::TabFocusReason);
        QTest::keyClick(button, Qt::Key_Space);
    }
    QCOMPARE(notifications(w), said);
    // Said without taking the focus from the button pressed.
    QCOMPARE(QApplication::focusWidget(), button);
    QCOMPARE(tutor.prompter.messages.size(), answer == QStringLiteral("<fails>") ? 1 : 0);
}

void TestAccessibility::endsAndDisplaysAreSaid_data()
{
    QTest::addColumn<QStringList>("presses");
    QTest::addColumn<bool>("listening"); // a screen reader is on
    QTest::addColumn<QString>("said");
    const QString next = QStringLiteral("cmdNextQuestion");
    const QString end = QStringLiteral("End of class notes 1. Your answers are recorded.");
    QTest::newRow("a graph with its line")
        << QStringList{next} << false
        << "Graph drawn: velocity v vs. clock time t (Alt+G for its description). How fast?";
    QTest::newRow("display everything") << QStringList{next, "cmd_displayCumulativeText"} << false
                                        << "Everything of this session is shown, newest first: 2 entries.";
    QTest::newRow("display notes") << QStringList{next, "cmd_save_as_notes", "cmd_display_note_file"} << false
                                   << "Your notes file is shown at the end of the question box, the newest note last.";
    QTest::newRow("the end of a set, said to no one") << QStringList{next, next} << false << end;
    QTest::newRow("the end of a set, heard") << QStringList{next, next} << true << end;
}

void TestAccessibility::endsAndDisplaysAreSaid()
{
    QFETCH(QStringList, presses);
    QFETCH(bool, listening);
    QFETCH(QString, said);
    Tutor tutor;
    QVERIFY(
        testfiles::write(tutor.homePath(QStringLiteral("class_notes.txt")), "001.  G\n`routine graph1\nHow fast?\n"));
    MainWindow& w = tutor.startHome(QStringLiteral("1"));
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    tutor.screenReader = listening;
    for (const QString& press : presses)
        tutor.control<CommandButton>(qPrintable(press))->click();
    QVERIFY2(notifications(w).contains(said), qPrintable(notifications(w).join(u'\n')));
    if (said.startsWith(QStringLiteral("End"))) {
        // Heard to its end before the window goes; at once where no one listens.
        QCOMPARE(w.isVisible(), listening);
        QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 10000);
        QCOMPARE(tutor.ends, 1);
    } else if (said.startsWith(QStringLiteral("Everything"))) {
        QCOMPARE(ui(w).txt_question->textCursor().position(), 0);
    } else if (said.startsWith(QStringLiteral("Graph"))) {
        QTest::keyClick(&w, Qt::Key_G, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), ui(w).Picture1);
        QVERIFY(QAccessible::queryAccessibleInterface(ui(w).Picture1)
                    ->text(QAccessible::Description)
                    .startsWith(QStringLiteral("graph: velocity v vs. clock time t.")));
    }
}

void TestAccessibility::sayingChangesNoPixel()
{
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QImage before = w.grab().toImage();
    Announcer::say(ui(w).txt_question, QStringLiteral("Answer recorded"));
    Announcer::say(&w, QStringLiteral("Note saved"));
    QCOMPARE(w.grab().toImage(), before);
}

void TestAccessibility::linesAreJoinedWhenSaid_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("said");
    QTest::newRow("lines") << "v = d / t\r\nin m/s"
                           << "v = d / t in m/s";
    QTest::newRow("blanks about the breaks go with them") << "a  \r\n\r\n\t b\nc"
                                                          << "a b c";
    QTest::newRow("blanks within a line stay") << "a  b\tc"
                                               << "a  b\tc";
    QTest::newRow("ends") << " \r\n a \r\n"
                          << "a";
    QTest::newRow("only blanks") << " \r\n "
                                 << "";
}

void TestAccessibility::linesAreJoinedWhenSaid()
{
    QFETCH(QString, text);
    QFETCH(QString, said);
    QCOMPARE(Announcer::spoken(text), said);
}

void TestAccessibility::alertsTabAsShown_data()
{
    QTest::addColumn<QString>("alert");
    QTest::addColumn<QStringList>("offered");
    QTest::addColumn<QString>("preferred");
    QTest::addColumn<int>("icon");
    const int question = QMessageBox::Question;
    const int warning = QMessageBox::Warning;
    const QStringList unrecorded{"Keep editing", "Record it as your answer", "Discard it"};
    QTest::newRow("unrecorded text") << "choose" << unrecorded << "Keep editing" << question;
    QTest::newRow("unfinished record") << "choose" << QStringList{"Stay", "Go on without it"} << "Stay" << question;
    QTest::newRow("folder failure") << "retry" << QStringList() << "Retry" << warning;
    QTest::newRow("missing folder") << "create" << QStringList() << "Retry" << warning;
    QTest::newRow("failed record") << "warn" << QStringList() << "OK" << warning;
}

// Tab goes from the default through the buttons in the order shown and back to it, and
// Enter takes the default.
void TestAccessibility::alertsTabAsShown()
{
    QFETCH(QString, alert);
    QFETCH(QStringList, offered);
    QFETCH(QString, preferred);
    QFETCH(int, icon);
    QStringList shown;
    QStringList tabbed;
    int seenIcon = -1;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        QVERIFY(QTest::qWaitForWindowActive(box));
        seenIcon = box->icon();
        QList<QAbstractButton*> buttons = box->buttons();
        std::sort(buttons.begin(), buttons.end(), [](QAbstractButton* a, QAbstractButton* b) {
            return a->mapToGlobal(QPoint()).x() < b->mapToGlobal(QPoint()).x();
        });
        for (QAbstractButton* button : buttons)
            shown << button->text();
        for (qsizetype i = 0; i <= shown.size(); ++i) {
            if (i > 0)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            tabbed << qobject_cast<QAbstractButton*>(QApplication::focusWidget())->text();
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
    });
    DialogPrompter prompter;
    QString chosen;
    if (alert == QStringLiteral("choose"))
        chosen = offered.value(prompter.choose(QStringLiteral("?"), offered));
    else if (alert == QStringLiteral("retry"))
        chosen = prompter.retryOrQuit(QStringLiteral("?")) ? QStringLiteral("Retry") : QString();
    else if (alert == QStringLiteral("create"))
        chosen = prompter.createRetryOrQuit(QStringLiteral("?"), Prompter::FolderChoice::Retry) ==
                         Prompter::FolderChoice::Retry
                     ? QStringLiteral("Retry")
                     : QString();
    else
        prompter.warn(QStringLiteral("?"));
    QCOMPARE(seenIcon, icon);
    if (!offered.isEmpty())
        QCOMPARE(shown, offered);
    const qsizetype from = shown.indexOf(preferred);
    QCOMPARE(tabbed, shown.mid(from) + shown.first(from) + QStringList{preferred});
    if (alert != QStringLiteral("warn"))
        QCOMPARE(chosen, preferred);
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"

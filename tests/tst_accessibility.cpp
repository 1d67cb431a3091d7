#include <QAccessible>
#include <QListWidget>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "support/tutor_fixture.h"
#include "widgets/picture_box.h"
#include "widgets/text_box.h"

class TestAccessibility : public QObject {
    Q_OBJECT
private slots:
    void everyControlHasAName();
    void picturesSayWhatTheyHold_data();
    void picturesSayWhatTheyHold();
    void focusedControlShowsIt_data();
    void focusedControlShowsIt();
};

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
    QTest::addColumn<QString>("description");
    QTest::newRow("Picture1 before any drawing") << ""
                                                 << "Picture1"
                                                 << "empty picture";
    QTest::newRow("Picture2 before any drawing") << ""
                                                 << "Picture2"
                                                 << "empty picture";
    QTest::newRow("graph1") << "graph1"
                            << "Picture1"
                            << "graph: velocity v vs. clock time t";
    QTest::newRow("graph2") << "graph2"
                            << "Picture1"
                            << "graph: value y (dollars) vs. clock time t (months)";
    QTest::newRow("graph3") << "graph3"
                            << "Picture1"
                            << "graph: depth y (dollars) vs. clock time t (seconds)";
    QTest::newRow("circles") << "venn1"
                             << "Picture1"
                             << "diagram: two overlapping circles";
    QTest::newRow("pendulum") << "pendulum"
                              << "Picture1"
                              << "circles of the pendulum experiment";
    QTest::newRow("Picture2 after graph1") << "graph1"
                                           << "Picture2"
                                           << "empty picture";
}

void TestAccessibility::picturesSayWhatTheyHold()
{
    QFETCH(QString, drawing);
    QFETCH(QString, picture);
    QFETCH(QString, description);
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    if (drawing == QStringLiteral("pendulum")) {
        QSignalSpy ticks(ui(w).tmr_pend_exp, &QTimer::timeout);
        ui(w).cmd_pend_exp->click();
        QVERIFY(ticks.wait());
        ui(w).tmr_pend_exp->stop();
    } else if (!drawing.isEmpty()) {
        const QHash<QString, void (MainWindow::*)()> procedures{{QStringLiteral("graph1"), &MainWindow::graph1},
                                                                {QStringLiteral("graph2"), &MainWindow::graph2},
                                                                {QStringLiteral("graph3"), &MainWindow::graph3},
                                                                {QStringLiteral("venn1"), &MainWindow::venn1}};
        (w.*procedures.value(drawing))();
    }
    auto* box = tutor.control<PictureBox>(qPrintable(picture));
    QVERIFY2(box->accessibleDescription().startsWith(description), qPrintable(box->accessibleDescription()));
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

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"

#include <QClipboard>
#include <QGuiApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <map>

#include "support/tutor_fixture.h"
#include "widgets/picture_box.h"

namespace {

const QString kMarker = QStringLiteral("`routine");

// The drawing that the given graph routines leave in a fresh window, in order.
QImage drawnBy(const QStringList& routines)
{
    Tutor tutor;
    MainWindow& w = tutor.create();
    for (const QString& r : routines) {
        if (r == QLatin1String("graph1"))
            w.graph1();
        else if (r == QLatin1String("graph2"))
            w.graph2();
        else if (r == QLatin1String("graph3"))
            w.graph3();
        else
            qFatal("no such graph: %s", qPrintable(r));
    }
    return ui(w).Picture1->drawing();
}

bool nothingDrawn(const PictureBox& box)
{
    const QImage& d = box.drawing();
    for (int y = 0; y < d.height(); ++y) {
        for (int x = 0; x < d.width(); ++x) {
            if (qAlpha(d.pixel(x, y)) != 0)
                return false;
        }
    }
    return true;
}

void clickNextPicture(Tutor& tutor)
{
    QTest::mouseClick(tutor.control<QPushButton>("cmd_next_picture"), Qt::LeftButton);
}

} // namespace

class TestDispatch : public QObject {
    Q_OBJECT
private slots:
    void remSpacesDropsBlanksAndHyphensOnly_data();
    void remSpacesDropsBlanksAndHyphensOnly();
    void runRoutineKnowsExactlyThreeNames_data();
    void runRoutineKnowsExactlyThreeNames();
    void pictureLineAhead_data();
    void pictureLineAhead();
    void nextPictureLooksTwoLinesAhead_data();
    void nextPictureLooksTwoLinesAhead();
    void nextPictureAtTheEndOfTheTable_data();
    void nextPictureAtTheEndOfTheTable();
    void handlersDoNothingAfterTheEnd_data();
    void handlersDoNothingAfterTheEnd();
};

void TestDispatch::remSpacesDropsBlanksAndHyphensOnly_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("result");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("blanks and a hyphen inside and around")
        << QStringLiteral("  g r-a p h 1 ") << QStringLiteral("graph1");
    QTest::newRow("only blanks and hyphens") << QStringLiteral(" - -- ") << QString();
    QTest::newRow("underscore kept") << QStringLiteral("graph_1") << QStringLiteral("graph_1");
    QTest::newRow("capitals kept") << QStringLiteral("Graph 2") << QStringLiteral("Graph2");
    QTest::newRow("full stop kept") << QStringLiteral("graph1.") << QStringLiteral("graph1.");
    QTest::newRow("tab and no-break space kept")
        << QStringLiteral("graph3\t\u00a0") << QStringLiteral("graph3\t\u00a0");
    QTest::newRow("other dashes kept") << QStringLiteral("graph\u20133") << QStringLiteral("graph\u20133");
}

void TestDispatch::remSpacesDropsBlanksAndHyphensOnly()
{
    QFETCH(QString, text);
    QFETCH(QString, result);
    Tutor tutor;
    const QString original = text;
    QCOMPARE(tutor.create().remSpaces(text), result);
    QCOMPARE(text, original);
}

void TestDispatch::runRoutineKnowsExactlyThreeNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("drawn"); // empty: the program ends
    QTest::newRow("graph1") << QStringLiteral("graph1") << QStringLiteral("graph1");
    QTest::newRow("graph2") << QStringLiteral("graph2") << QStringLiteral("graph2");
    QTest::newRow("graph3") << QStringLiteral("graph3") << QStringLiteral("graph3");
    QTest::newRow("capitals are not lowered here") << QStringLiteral("Graph1") << QString();
    QTest::newRow("circle routine") << QStringLiteral("venn1") << QString();
    QTest::newRow("unknown number") << QStringLiteral("graph4") << QString();
    QTest::newRow("empty name") << QString() << QString();
    QTest::newRow("trailing full stop") << QStringLiteral("graph1.") << QString();
    QTest::newRow("leading blank") << QStringLiteral(" graph1") << QString();
}

void TestDispatch::runRoutineKnowsExactlyThreeNames()
{
    QFETCH(QString, name);
    QFETCH(QString, drawn);
    Tutor tutor;
    MainWindow& w = tutor.create();
    w.session().moveTo(7);
    w.runRoutine(name);
    QCOMPARE(w.session().lineIndex(), 7);
    if (drawn.isEmpty()) {
        QVERIFY(w.hasEnded());
        QCOMPARE(tutor.ends, 1);
        QVERIFY(nothingDrawn(*ui(w).Picture1));
        QVERIFY(tutor.prompter.messages.isEmpty());
    } else {
        QVERIFY(!w.hasEnded());
        QCOMPARE(tutor.ends, 0);
        QCOMPARE(ui(w).Picture1->drawing(), drawnBy({drawn}));
    }
}

void TestDispatch::pictureLineAhead_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("drawn"); // empty: the program ends
    QTest::newRow("marker in capitals, Graph-1") << QStringLiteral("`ROUTINE Graph-1") << QStringLiteral("graph1");
    QTest::newRow("blank before the digit") << QStringLiteral("`routine graph 1") << QStringLiteral("graph1");
    QTest::newRow("mixed-case marker, hyphens") << QStringLiteral("`RoUtInE -g-r-a-p-h-2-") << QStringLiteral("graph2");
    QTest::newRow("any separator is skipped") << QStringLiteral("`routine_graph3") << QStringLiteral("graph3");
    QTest::newRow("tab separator") << QStringLiteral("`routine\tGRAPH3") << QStringLiteral("graph3");
    QTest::newRow("no separator eats the first letter") << QStringLiteral("`routinegraph2") << QString();
    QTest::newRow("unknown graph") << QStringLiteral("`routine graph4") << QString();
    QTest::newRow("circle routine") << QStringLiteral("`routine venn1") << QString();
    QTest::newRow("full stop kept") << QStringLiteral("`routine graph1.") << QString();
    QTest::newRow("underscore kept") << QStringLiteral("`routine graph_1") << QString();
    QTest::newRow("trailing tab kept") << QStringLiteral("`routine graph1\t") << QString();
    QTest::newRow("bare marker") << kMarker << QString();
    QTest::newRow("marker and separator only") << QStringLiteral("`routine ") << QString();
}

void TestDispatch::pictureLineAhead()
{
    QFETCH(QString, line);
    QFETCH(QString, drawn);
    Tutor tutor;
    MainWindow& w = tutor.create();
    w.session().moveTo(10);
    w.session().setLine(11, line);
    w.session().setLine(13, kMarker + QStringLiteral(" graph2"));
    clickNextPicture(tutor);
    if (drawn.isEmpty()) {
        // Ended before drawing anything, the line after it included.
        QVERIFY(w.hasEnded());
        QCOMPARE(tutor.ends, 1);
        QCOMPARE(w.session().lineIndex(), 10);
        QVERIFY(nothingDrawn(*ui(w).Picture1));
    } else {
        QVERIFY(!w.hasEnded());
        QCOMPARE(w.session().lineIndex(), 13);
        QCOMPARE(ui(w).Picture1->drawing(), drawnBy({drawn, QStringLiteral("graph2")}));
    }
}

void TestDispatch::nextPictureLooksTwoLinesAhead_data()
{
    QTest::addColumn<QStringList>("lines"); // slots 11, 12, 13, 14; a name means a picture line
    QTest::addColumn<int>("clicks");
    QTest::addColumn<QStringList>("drawn");
    QTest::addColumn<int>("lineIndexAfter");
    const QString text = QStringLiteral("What is the slope?");
    QTest::newRow("no picture ahead") << QStringList{text, text, QStringLiteral("graph1"), text} << 1 << QStringList{}
                                      << 10;
    QTest::newRow("empty lines ahead") << QStringList{QString(), QString(), text, text} << 1 << QStringList{} << 10;
    QTest::newRow("picture two ahead") << QStringList{text, QStringLiteral("graph2"), QStringLiteral("graph1"), text}
                                       << 1 << QStringList{QStringLiteral("graph2")} << 12;
    QTest::newRow("picture next, text after")
        << QStringList{QStringLiteral("graph1"), text, text, text} << 1 << QStringList{QStringLiteral("graph1")} << 11;
    QTest::newRow("pictures next and three ahead, in that order")
        << QStringList{QStringLiteral("graph3"), text, QStringLiteral("graph1"), text} << 1
        << QStringList{QStringLiteral("graph3"), QStringLiteral("graph1")} << 13;
    QTest::newRow("line two ahead is skipped after a picture")
        << QStringList{QStringLiteral("graph3"), QStringLiteral("graph2"), QStringLiteral("graph1"), text} << 1
        << QStringList{QStringLiteral("graph3"), QStringLiteral("graph1")} << 13;
    QTest::newRow("adjacent pictures take two clicks")
        << QStringList{QStringLiteral("graph2"), QStringLiteral("graph1"), text, text} << 1
        << QStringList{QStringLiteral("graph2")} << 11;
    QTest::newRow("second click draws the next one")
        << QStringList{QStringLiteral("graph2"), QStringLiteral("graph1"), text, text} << 2
        << QStringList{QStringLiteral("graph2"), QStringLiteral("graph1")} << 12;
    QTest::newRow("a third click finds nothing")
        << QStringList{QStringLiteral("graph2"), QStringLiteral("graph1"), text, text} << 3
        << QStringList{QStringLiteral("graph2"), QStringLiteral("graph1")} << 12;
}

void TestDispatch::nextPictureLooksTwoLinesAhead()
{
    QFETCH(QStringList, lines);
    QFETCH(int, clicks);
    QFETCH(QStringList, drawn);
    QFETCH(int, lineIndexAfter);
    Tutor tutor;
    MainWindow& w = tutor.create();
    w.session().moveTo(10);
    for (int i = 0; i < lines.size(); ++i) {
        const bool picture = lines[i].startsWith(QLatin1String("graph"));
        w.session().setLine(std::size_t(11 + i), picture ? kMarker + u' ' + lines[i] : lines[i]);
    }
    for (int c = 0; c < clicks; ++c)
        clickNextPicture(tutor);
    QCOMPARE(w.session().lineIndex(), lineIndexAfter);
    QCOMPARE(ui(w).Picture1->drawing(), drawnBy(drawn));
    QVERIFY(!w.hasEnded());
    QVERIFY(tutor.prompter.messages.isEmpty());
}

void TestDispatch::nextPictureAtTheEndOfTheTable_data()
{
    QTest::addColumn<int>("lineIndex");
    QTest::addColumn<QString>("slot4999");
    QTest::addColumn<QString>("slot5000");
    QTest::addColumn<QStringList>("drawn");
    QTest::addColumn<int>("lineIndexAfter");
    const QString text = QStringLiteral("last line");
    const QString graph = kMarker + QStringLiteral(" graph1");
    QTest::newRow("picture in the last slot, next")
        << 4999 << text << graph << QStringList{QStringLiteral("graph1")} << 5000;
    QTest::newRow("picture in the last slot, two ahead")
        << 4998 << text << graph << QStringList{QStringLiteral("graph1")} << 5000;
    QTest::newRow("text in the last slot") << 4999 << text << text << QStringList{} << 4999;
    QTest::newRow("cursor on the last slot") << 5000 << graph << graph << QStringList{} << 5000;
}

void TestDispatch::nextPictureAtTheEndOfTheTable()
{
    QFETCH(int, lineIndex);
    QFETCH(QString, slot4999);
    QFETCH(QString, slot5000);
    QFETCH(QStringList, drawn);
    QFETCH(int, lineIndexAfter);
    Tutor tutor;
    MainWindow& w = tutor.create();
    w.session().moveTo(lineIndex);
    w.session().setLine(4999, slot4999);
    w.session().setLine(5000, slot5000);
    clickNextPicture(tutor);
    clickNextPicture(tutor);
    QCOMPARE(w.session().lineIndex(), lineIndexAfter);
    QCOMPARE(ui(w).Picture1->drawing(), drawnBy(drawn));
    QVERIFY(!w.hasEnded());
}

void TestDispatch::handlersDoNothingAfterTheEnd_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("next picture") << QStringLiteral("cmd_next_picture");
    QTest::newRow("copy picture") << QStringLiteral("cmd_copy_picture");
    QTest::newRow("pend exp") << QStringLiteral("cmd_pend_exp");
}

void TestDispatch::handlersDoNothingAfterTheEnd()
{
    QFETCH(QString, button);
    Tutor tutor;
    MainWindow& w = tutor.create();
    QImage picture(20, 20, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    ui(w).Picture1->setPicture(picture);
    w.session().moveTo(10);
    w.session().setLine(11, kMarker + QStringLiteral(" graph1"));
    QGuiApplication::clipboard()->setText(QStringLiteral("left by another program"));

    w.runRoutine(QStringLiteral("no such routine"));
    QVERIFY(w.hasEnded());
    w.findChild<QPushButton*>(button)->click();

    QCOMPARE(tutor.ends, 1);
    QCOMPARE(w.session().lineIndex(), 10);
    QVERIFY(nothingDrawn(*ui(w).Picture1));
    QVERIFY(ui(w).Picture2->picture().isNull());
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("left by another program"));
    QVERIFY(!w.findChild<QTimer*>(QStringLiteral("tmr_pend_exp"))->isActive());
    QCOMPARE(tutor.sound.beeps, 0);
}

QTEST_MAIN(TestDispatch)
#include "tst_dispatch.moc"

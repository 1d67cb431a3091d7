#include <QTest>

#include "content/picture_line.h"
#include "support/tutor_setup.h"

// Picture lines ahead of the walk and the "next picture" button, on the tutor's controller:
// the drawings here keep the names asked for (the routine table is tst_diagrams').

namespace {

const QString kHeader = QStringLiteral("005.  `class notes 5");
const QString kMarker = QStringLiteral("`routine");

// A tutor standing on set 005's header, at slot `headerSlot`, with these lines after it.
void startOn(HeadlessTutor& tutor, int headerSlot, const QStringList& after)
{
    QStringList lines(headerSlot - 1);
    lines << kHeader << after;
    tutor.useLines(lines);
    tutor.startHome(QStringLiteral("5"));
    QCOMPARE(tutor.session().lineIndex(), headerSlot);
}

} // namespace

class TestDispatch : public QObject {
    Q_OBJECT
private slots:
    void remSpacesDropsBlanksAndHyphensOnly_data();
    void remSpacesDropsBlanksAndHyphensOnly();
    void pictureLineAhead_data();
    void pictureLineAhead();
    void nextPictureLooksTwoLinesAhead_data();
    void nextPictureLooksTwoLinesAhead();
    void nextPictureAtTheEndOfTheTable_data();
    void nextPictureAtTheEndOfTheTable();
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
    QCOMPARE(withoutBlanksAndHyphens(text), result);
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
    HeadlessTutor tutor;
    startOn(tutor, 1, {line, QString(), kMarker + QStringLiteral(" graph2")});
    tutor.tutor->nextPicture();
    if (drawn.isEmpty()) {
        // Ended before drawing anything, the line after it included.
        QVERIFY(tutor.session().hasEnded());
        QCOMPARE(tutor.ends, 1);
        QCOMPARE(tutor.session().lineIndex(), 1);
        QCOMPARE(tutor.drawings.drawn, QStringList());
    } else {
        QVERIFY(!tutor.session().hasEnded());
        QCOMPARE(tutor.session().lineIndex(), 4);
        QCOMPARE(tutor.drawings.drawn, (QStringList{drawn, QStringLiteral("graph2")}));
    }
    QCOMPARE(tutor.prompter.messages, QStringList());
}

void TestDispatch::nextPictureLooksTwoLinesAhead_data()
{
    QTest::addColumn<QStringList>("lines"); // slots 2 to 5; a name means a picture line
    QTest::addColumn<int>("clicks");
    QTest::addColumn<QStringList>("drawn");
    QTest::addColumn<int>("lineIndexAfter");
    const QString text = QStringLiteral("What is the slope?");
    QTest::newRow("no picture ahead") << QStringList{text, text, QStringLiteral("graph1"), text} << 1 << QStringList{}
                                      << 1;
    QTest::newRow("empty lines ahead") << QStringList{QString(), QString(), text, text} << 1 << QStringList{} << 1;
    QTest::newRow("picture two ahead") << QStringList{text, QStringLiteral("graph2"), QStringLiteral("graph1"), text}
                                       << 1 << QStringList{QStringLiteral("graph2")} << 3;
    QTest::newRow("picture next, text after")
        << QStringList{QStringLiteral("graph1"), text, text, text} << 1 << QStringList{QStringLiteral("graph1")} << 2;
    QTest::newRow("pictures next and three ahead, in that order")
        << QStringList{QStringLiteral("graph3"), text, QStringLiteral("graph1"), text} << 1
        << QStringList{QStringLiteral("graph3"), QStringLiteral("graph1")} << 4;
    QTest::newRow("line two ahead is skipped after a picture")
        << QStringList{QStringLiteral("graph3"), QStringLiteral("graph2"), QStringLiteral("graph1"), text} << 1
        << QStringList{QStringLiteral("graph3"), QStringLiteral("graph1")} << 4;
    QTest::newRow("adjacent pictures take two clicks")
        << QStringList{QStringLiteral("graph2"), QStringLiteral("graph1"), text, text} << 1
        << QStringList{QStringLiteral("graph2")} << 2;
    QTest::newRow("second click draws the next one")
        << QStringList{QStringLiteral("graph2"), QStringLiteral("graph1"), text, text} << 2
        << QStringList{QStringLiteral("graph2"), QStringLiteral("graph1")} << 3;
    QTest::newRow("a third click finds nothing")
        << QStringList{QStringLiteral("graph2"), QStringLiteral("graph1"), text, text} << 3
        << QStringList{QStringLiteral("graph2"), QStringLiteral("graph1")} << 3;
}

void TestDispatch::nextPictureLooksTwoLinesAhead()
{
    QFETCH(QStringList, lines);
    QFETCH(int, clicks);
    QFETCH(QStringList, drawn);
    QFETCH(int, lineIndexAfter);
    HeadlessTutor tutor;
    for (QString& line : lines) {
        if (line.startsWith(QLatin1String("graph")))
            line = kMarker + u' ' + line;
    }
    startOn(tutor, 1, lines);
    for (int c = 0; c < clicks; ++c)
        tutor.tutor->nextPicture();
    QCOMPARE(tutor.session().lineIndex(), lineIndexAfter);
    QCOMPARE(tutor.drawings.drawn, drawn);
    QVERIFY(!tutor.session().hasEnded());
    QCOMPARE(tutor.prompter.messages, QStringList());
}

void TestDispatch::nextPictureAtTheEndOfTheTable_data()
{
    QTest::addColumn<int>("headerSlot");
    QTest::addColumn<QStringList>("after"); // up to slot 5000, the last
    QTest::addColumn<QStringList>("drawn");
    QTest::addColumn<int>("lineIndexAfter");
    const QString text = QStringLiteral("last line");
    const QString graph = kMarker + QStringLiteral(" graph1");
    QTest::newRow("picture in the last slot, next")
        << 4999 << QStringList{graph} << QStringList{QStringLiteral("graph1")} << 5000;
    QTest::newRow("picture in the last slot, two ahead")
        << 4998 << QStringList{text, graph} << QStringList{QStringLiteral("graph1")} << 5000;
    QTest::newRow("text in the last slot") << 4999 << QStringList{text} << QStringList{} << 4999;
    QTest::newRow("cursor on the last slot") << 5000 << QStringList{} << QStringList{} << 5000;
}

void TestDispatch::nextPictureAtTheEndOfTheTable()
{
    QFETCH(int, headerSlot);
    QFETCH(QStringList, after);
    QFETCH(QStringList, drawn);
    QFETCH(int, lineIndexAfter);
    HeadlessTutor tutor;
    startOn(tutor, headerSlot, after);
    tutor.tutor->nextPicture();
    tutor.tutor->nextPicture();
    QCOMPARE(tutor.session().lineIndex(), lineIndexAfter);
    QCOMPARE(tutor.drawings.drawn, drawn);
    QVERIFY(!tutor.session().hasEnded());
}

QTEST_GUILESS_MAIN(TestDispatch)
#include "tst_dispatch.moc"

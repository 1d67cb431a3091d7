#include <QClipboard>
#include <QGuiApplication>
#include <QPushButton>
#include <QTest>

#include "support/tutor_fixture.h"
#include "widgets/picture_box.h"

namespace {

// A text printed with its top-left at `at`, into a box of the same size and font as `like`.
QImage textDrawn(const PictureBox& like, QPointF at, const QString& text)
{
    PictureBox box;
    box.setFont(like.font());
    box.resize(like.size());
    box.setCurrentX(at.x());
    box.setCurrentY(at.y());
    box.print(text);
    return box.drawing();
}

void draw(MainWindow& w, const QString& routine)
{
    using Routine = void (MainWindow::*)();
    static const QHash<QString, Routine> routines{
        {QStringLiteral("graph1"), &MainWindow::graph1}, {QStringLiteral("graph2"), &MainWindow::graph2},
        {QStringLiteral("graph3"), &MainWindow::graph3}, {QStringLiteral("venn1"), &MainWindow::venn1},
        {QStringLiteral("venn2"), &MainWindow::venn2},   {QStringLiteral("venn3"), &MainWindow::venn3},
    };
    QVERIFY2(routines.contains(routine), qPrintable(routine));
    (w.*routines.value(routine))();
}

QImage drawnBy(const QStringList& routines)
{
    Tutor tutor;
    MainWindow& w = tutor.create();
    for (const QString& r : routines)
        draw(w, r);
    return ui(w).Picture1->drawing();
}

bool isClear(QRgb p)
{
    return qAlpha(p) == 0;
}

int countWhere(const QImage& d, const std::function<bool(QRgb)>& test)
{
    int n = 0;
    for (int y = 0; y < d.height(); ++y) {
        for (int x = 0; x < d.width(); ++x)
            n += test(d.pixel(x, y));
    }
    return n;
}

// The pixels that one character of a text adds to the text before it.
QList<QPoint> glyphPixels(const PictureBox& like, QPointF at, const QString& text, int index)
{
    const QImage before = textDrawn(like, at, text.left(index));
    const QImage with = textDrawn(like, at, text.left(index + 1));
    QList<QPoint> pixels;
    for (int y = 0; y < with.height(); ++y) {
        for (int x = 0; x < with.width(); ++x) {
            if (with.pixel(x, y) == qRgb(0, 0, 0) && before.pixel(x, y) != qRgb(0, 0, 0))
                pixels << QPoint(x, y);
        }
    }
    return pixels;
}

} // namespace

class TestDiagrams : public QObject {
    Q_OBJECT
private slots:
    void looksAsItsPictureInTheDocs_data();
    void looksAsItsPictureInTheDocs();
    void graph1OverGraph2ClearsNothing();
    void venn1AgainChangesOnlyColours();
    void textsStandClearOfTheStrokesBeneath_data();
    void textsStandClearOfTheStrokesBeneath();
    void graph1TwiceIsGraph1Once();
    void whiteBoxStartsAfresh_data();
    void whiteBoxStartsAfresh();
    void copyPicture_data();
    void copyPicture();
    void runRoutineKnowsExactlyThreeNames_data();
    void runRoutineKnowsExactlyThreeNames();
    void handlersDoNothingAfterTheEnd_data();
    void handlersDoNothingAfterTheEnd();
};

void TestDiagrams::looksAsItsPictureInTheDocs_data()
{
    QTest::addColumn<QString>("routine");
    for (const char* routine : {"graph1", "graph2", "graph3", "venn1", "venn2", "venn3"})
        QTest::newRow(routine) << QString::fromLatin1(routine);
}

// The pictures in docs/ are the reference, made by `make pictures` from a fresh window with
// the fonts the tests use: any drawing that changes shows here.
void TestDiagrams::looksAsItsPictureInTheDocs()
{
    QFETCH(QString, routine);
#ifdef Q_OS_WIN
    QSKIP("the reference pictures hold the glyphs of this system's font rasteriser");
#endif
    const QImage want =
        QImage(QStringLiteral(TUTOR_DOCS_DIR "/%1.png").arg(routine)).convertToFormat(QImage::Format_RGB32);
    QVERIFY(!want.isNull());
    Tutor tutor;
    MainWindow& w = tutor.create();
    draw(w, routine);
    const QImage got = ui(w).Picture1->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(got.size(), want.size());
    QRect differing;
    for (int y = 0; y < want.height(); ++y)
        for (int x = 0; x < want.width(); ++x)
            if (got.pixel(x, y) != want.pixel(x, y))
                differing |= QRect(x, y, 1, 1);
    QVERIFY2(differing.isNull(), qPrintable(QStringLiteral("pixels differ in %1,%2 %3x%4")
                                                .arg(differing.x())
                                                .arg(differing.y())
                                                .arg(differing.width())
                                                .arg(differing.height())));
}

void TestDiagrams::graph1OverGraph2ClearsNothing()
{
    const QImage under = drawnBy({QStringLiteral("graph2")});
    const QImage over = drawnBy({QStringLiteral("graph1")});
    const QImage both = drawnBy({QStringLiteral("graph2"), QStringLiteral("graph1")});
    QVERIFY(both != over);
    for (int y = 0; y < both.height(); ++y)
        for (int x = 0; x < both.width(); ++x)
            if (isClear(over.pixel(x, y)))
                QCOMPARE(both.pixel(x, y), under.pixel(x, y));
}

void TestDiagrams::venn1AgainChangesOnlyColours()
{
    // The second drawing takes the generator's next colours, over the same shapes.
    const QImage once = drawnBy({QStringLiteral("venn1")});
    const QImage twice = drawnBy({QStringLiteral("venn1"), QStringLiteral("venn1")});
    QVERIFY(twice != once);
    for (int y = 0; y < once.height(); ++y)
        for (int x = 0; x < once.width(); ++x)
            QCOMPARE(isClear(twice.pixel(x, y)), isClear(once.pixel(x, y)));
}

void TestDiagrams::textsStandClearOfTheStrokesBeneath_data()
{
    QTest::addColumn<QString>("routine");
    QTest::addColumn<QPointF>("at");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("index"); // the character looked at
    QTest::newRow("minus of slope -1.33 on the grid line t=20") << "graph3" << QPointF(110, 650) << "slope -1.33" << 6;
    QTest::newRow("point of slope -.4 on the grid line t=60") << "graph3" << QPointF(300, 750) << "slope -.4" << 7;
    QTest::newRow("4 of rise -40 on the grid line t=40") << "graph3" << QPointF(320, 550) << "rise -40" << 6;
    QTest::newRow("arrow head on the value axis") << "graph2" << QPointF(90, 100) << "^" << 0;
    QTest::newRow("arrow head on the time axis") << "graph1" << QPointF(900, 870) << ">" << 0;
}

void TestDiagrams::textsStandClearOfTheStrokesBeneath()
{
    QFETCH(QString, routine);
    QFETCH(QPointF, at);
    QFETCH(QString, text);
    QFETCH(int, index);
    Tutor tutor;
    MainWindow& w = tutor.create();
    draw(w, routine);
    const QImage& d = ui(w).Picture1->drawing();
    const QList<QPoint> glyph = glyphPixels(*ui(w).Picture1, at, text, index);
    QVERIFY(!glyph.isEmpty());
    const QImage whole = textDrawn(*ui(w).Picture1, at, text);
    // The character is all ink, and the pixels about it that are not the text's own are
    // the background: no stroke runs on into it.
    for (const QPoint& p : glyph) {
        QCOMPARE(d.pixel(p), qRgb(0, 0, 0));
        for (const QPoint& step : {QPoint(-1, -1), QPoint(0, -1), QPoint(1, -1), QPoint(-1, 0), QPoint(1, 0),
                                   QPoint(-1, 1), QPoint(0, 1), QPoint(1, 1)}) {
            const QPoint n = p + step;
            if (whole.pixel(n) == qRgb(0, 0, 0))
                continue;
            QVERIFY2(d.pixel(n) == qRgb(255, 255, 255),
                     qPrintable(QStringLiteral("a stroke touches the character at %1,%2").arg(n.x()).arg(n.y())));
        }
    }
}

void TestDiagrams::graph1TwiceIsGraph1Once()
{
    QCOMPARE(drawnBy({QStringLiteral("graph1"), QStringLiteral("graph1")}), drawnBy({QStringLiteral("graph1")}));
}

void TestDiagrams::whiteBoxStartsAfresh_data()
{
    QTest::addColumn<QStringList>("drawn");
    QTest::addColumn<QStringList>("sameAs");
    QTest::newRow("graph2 over graph1") << QStringList{"graph1", "graph2"} << QStringList{"graph2"};
    QTest::newRow("graph3 over graph2") << QStringList{"graph2", "graph3"} << QStringList{"graph3"};
    QTest::newRow("graph2 over graph3") << QStringList{"graph3", "graph2"} << QStringList{"graph2"};
    // Both earlier drawings take six values of the generator, so the circles match.
    QTest::newRow("venn3 over venn2") << QStringList{"venn2", "venn3"} << QStringList{"venn1", "venn3"};
    QTest::newRow("venn3 over graph2") << QStringList{"graph2", "venn3"} << QStringList{"venn3"};
}

void TestDiagrams::whiteBoxStartsAfresh()
{
    QFETCH(QStringList, drawn);
    QFETCH(QStringList, sameAs);
    QCOMPARE(drawnBy(drawn), drawnBy(sameAs));
}

void TestDiagrams::copyPicture_data()
{
    QImage blue(40, 30, QImage::Format_RGB32);
    blue.fill(QColor(0, 0, 200));
    QImage striped(16, 8, QImage::Format_ARGB32);
    striped.fill(Qt::transparent);
    for (int x = 0; x < 16; x += 2) {
        for (int y = 0; y < 8; ++y)
            striped.setPixelColor(x, y, QColor(10, 200, 30));
    }
    QImage earlier(10, 10, QImage::Format_RGB32);
    earlier.fill(Qt::yellow);

    QTest::addColumn<QImage>("picture1");
    QTest::addColumn<QImage>("picture2Before");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<QImage>("picture2After");
    QTest::newRow("picture travels") << blue << QImage() << 1 << blue;
    QTest::newRow("picture replaces Picture2's") << blue << earlier << 1 << blue;
    QTest::newRow("twice is once") << blue << QImage() << 2 << blue;
    QTest::newRow("transparency kept") << striped << QImage() << 1 << striped;
    QTest::newRow("no picture leaves none") << QImage() << QImage() << 1 << QImage();
    QTest::newRow("no picture replaces Picture2's") << QImage() << earlier << 2 << QImage();
}

void TestDiagrams::copyPicture()
{
    QFETCH(QImage, picture1);
    QFETCH(QImage, picture2Before);
    QFETCH(int, clicks);
    QFETCH(QImage, picture2After);
    Tutor tutor;
    tutor.useLines({QStringLiteral("005.  `class notes 5"), QStringLiteral("a question")});
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    ui(w).Picture1->setPicture(picture1);
    ui(w).Picture2->setPicture(picture2Before);
    w.graph2();
    w.readNextQuestion();
    const QString transcript = w.session().cumulativeText().text();
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("left by another program"));

    for (int c = 0; c < clicks; ++c)
        QTest::mouseClick(tutor.control<QPushButton>("cmd_copy_picture"), Qt::LeftButton);

    const QImage got = ui(w).Picture2->picture();
    QCOMPARE(got.isNull(), picture2After.isNull());
    if (!picture2After.isNull()) {
        QCOMPARE(got.convertToFormat(QImage::Format_ARGB32), picture2After.convertToFormat(QImage::Format_ARGB32));
        QCOMPARE(clipboard->image().convertToFormat(QImage::Format_ARGB32),
                 picture2After.convertToFormat(QImage::Format_ARGB32));
    } else {
        QCOMPARE(clipboard->text(), QStringLiteral("left by another program"));
    }
    // Only the picture travels: graph2 stays in Picture1 and Picture2 has no drawing.
    QCOMPARE(countWhere(ui(w).Picture2->drawing(), [](QRgb p) { return !isClear(p); }), 0);
    QCOMPARE(ui(w).Picture1->drawing(), drawnBy({QStringLiteral("graph2")}));
    QCOMPARE(ui(w).Picture1->picture(), picture1);
    QVERIFY(!w.hasEnded());
    QCOMPARE(tutor.ends, 0);
    QCOMPARE(w.session().lineIndex(), 2);
    QCOMPARE(w.session().currentLine(), QStringLiteral("a question"));
    QCOMPARE(w.session().cumulativeText().text(), transcript);
}

void TestDiagrams::runRoutineKnowsExactlyThreeNames_data()
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

void TestDiagrams::runRoutineKnowsExactlyThreeNames()
{
    QFETCH(QString, name);
    QFETCH(QString, drawn);
    Tutor tutor;
    MainWindow& w = tutor.create();
    w.runRoutine(name);
    QCOMPARE(w.session().lineIndex(), 0);
    QCOMPARE(w.hasEnded(), drawn.isEmpty());
    QCOMPARE(tutor.ends, drawn.isEmpty() ? 1 : 0);
    QCOMPARE(ui(w).Picture1->drawing(), drawnBy(drawn.isEmpty() ? QStringList() : QStringList{drawn}));
    QVERIFY(tutor.prompter.messages.isEmpty());
}

void TestDiagrams::handlersDoNothingAfterTheEnd_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("next picture") << QStringLiteral("cmd_next_picture");
    QTest::newRow("copy picture") << QStringLiteral("cmd_copy_picture");
    QTest::newRow("pend exp") << QStringLiteral("cmd_pend_exp");
}

void TestDiagrams::handlersDoNothingAfterTheEnd()
{
    QFETCH(QString, button);
    Tutor tutor;
    tutor.useLines({QStringLiteral("005.  `class notes 5"), QStringLiteral("`routine graph1")});
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    QImage picture(20, 20, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    ui(w).Picture1->setPicture(picture);
    QGuiApplication::clipboard()->setText(QStringLiteral("left by another program"));

    w.runRoutine(QStringLiteral("no such routine"));
    QVERIFY(w.hasEnded());
    w.findChild<QPushButton*>(button)->click();

    QCOMPARE(tutor.ends, 1);
    QCOMPARE(w.session().lineIndex(), 1);
    QCOMPARE(ui(w).Picture1->drawing(), drawnBy({}));
    QVERIFY(ui(w).Picture2->picture().isNull());
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("left by another program"));
    QVERIFY(!ui(w).tmr_pend_exp->isActive());
    QCOMPARE(tutor.sound.beeps, 0);
}

QTEST_MAIN(TestDiagrams)
#include "tst_diagrams.moc"

#include <QClipboard>
#include <QGuiApplication>
#include <QPushButton>
#include <QTest>

#include "widgets/picture_box.h"
#include "platform/random_source.h"
#include "support/tutor_fixture.h"

namespace {

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
    return w.Picture1->drawing();
}

bool isClear(QRgb p)
{
    return qAlpha(p) == 0;
}
bool isForeground(QRgb p)
{
    return qAlpha(p) == 255 && qRed(p) < 64 && qGreen(p) < 64 && qBlue(p) < 64;
}

// Lines fall on the pixel their end points round to; a neighbour of one pixel absorbs
// the rounding of points in between.
bool anyNear(const QImage& d, QPoint at, const std::function<bool(QRgb)>& test)
{
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            const QPoint p = at + QPoint(dx, dy);
            if (d.valid(p) && test(d.pixel(p)))
                return true;
        }
    }
    return false;
}

bool allNear(const QImage& d, QPoint at, const std::function<bool(QRgb)>& test)
{
    return !anyNear(d, at, [&](QRgb p) { return !test(p); });
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

const QRgb kRed = qRgb(255, 0, 0);
const QRgb kGreen = qRgb(0, 255, 0);
const QRgb kWhite = qRgb(255, 255, 255);

// The colour of the outermost pixel of a circle on its centre row, searched inwards from
// the given edge of the drawing.
QColor edgeColour(const QImage& d, int row, bool fromLeft)
{
    for (int i = 0; i < d.width(); ++i) {
        const int x = fromLeft ? i : d.width() - 1 - i;
        for (int y = row - 1; y <= row + 1; ++y) {
            if (!isClear(d.pixel(x, y)) && d.pixel(x, y) != kWhite)
                return d.pixelColor(x, y);
        }
    }
    return {};
}

QColor expectedVennColour(RandomSource& random)
{
    auto component = [&random] { return int(std::nearbyint(double(random.next()) * 155.0 + 100.0)); };
    const int r = component();
    const int g = component();
    const int b = component();
    return {r, g, b};
}

} // namespace

class TestDiagrams : public QObject {
    Q_OBJECT
private slots:
    void strokesWhereTheDiagramPutsThem_data();
    void strokesWhereTheDiagramPutsThem();
    void textsExactlyWhereQuoted_data();
    void textsExactlyWhereQuoted();
    void coloursOfEachDiagram_data();
    void coloursOfEachDiagram();
    void graph1TwiceIsGraph1Once();
    void graph1DrawsOverGraph2();
    void whiteBoxStartsAfresh_data();
    void whiteBoxStartsAfresh();
    void vennColoursComeFromTheGeneratorInOrder();
    void vennColoursStayLightOverManySeeds_data();
    void vennColoursStayLightOverManySeeds();
    void copyPicture_data();
    void copyPicture();
};

void TestDiagrams::strokesWhereTheDiagramPutsThem_data()
{
    QTest::addColumn<QString>("routine");
    QTest::addColumn<QPointF>("at");
    QTest::addColumn<QString>("expect"); // foreground, red, green, white (the box), clear (never drawn)
    auto row = [](const char* name, const char* routine, double x, double y, const char* expect) {
        QTest::newRow(name) << QString::fromLatin1(routine) << QPointF(x, y) << QString::fromLatin1(expect);
    };
    row("graph1 time axis", "graph1", 850, 900, "foreground");
    row("graph1 value axis below the time axis", "graph1", 100, 970, "foreground");
    row("graph1 line", "graph1", 250, 800, "foreground");
    row("graph1 cross", "graph1", 420, 680, "foreground");
    row("graph1 top grid line at v=4", "graph1", 800, 500, "foreground");
    row("graph1 no grid line at v=5", "graph1", 800, 400, "clear");
    row("graph1 grid reaches y=100", "graph1", 700, 120, "foreground");
    row("graph1 no grid at t=7", "graph1", 800, 200, "clear");
    row("graph1 nothing above the grid", "graph1", 200, 80, "clear");

    row("graph2 white box, top right", "graph2", 990, 20, "white");
    row("graph2 white box, bottom right", "graph2", 980, 980, "white");
    row("graph2 value axis stops at the time axis", "graph2", 100, 950, "white");
    row("graph2 time axis", "graph2", 150, 900, "foreground");
    row("graph2 first run lies over the time axis", "graph2", 430, 900, "red");
    row("graph2 first rise", "graph2", 450, 650, "red");
    row("graph2 second run over the grid", "graph2", 680, 600, "red");
    row("graph2 second rise over the grid", "graph2", 700, 450, "red");
    row("graph2 first segment", "graph2", 350, 750, "foreground");
    row("graph2 second segment", "graph2", 525, 540, "foreground");
    row("graph2 grid at y=400", "graph2", 800, 400, "foreground");
    row("graph2 no grid at y=300", "graph2", 800, 300, "white");

    row("graph3 white box", "graph3", 990, 20, "white");
    row("graph3 first run", "graph3", 250, 500, "red");
    row("graph3 first rise", "graph3", 300, 600, "red");
    row("graph3 second run", "graph3", 500, 700, "green");
    row("graph3 second rise", "graph3", 550, 750, "green");
    row("graph3 first segment", "graph3", 225, 600, "foreground");
    row("graph3 second segment", "graph3", 475, 770, "foreground");
    row("graph3 grid at x=700", "graph3", 700, 200, "foreground");
    row("graph3 no grid at x=800", "graph3", 800, 200, "white");

    row("venn1 first circle, left edge", "venn1", 25, 500, "colour");
    row("venn1 second circle, right edge", "venn1", 975, 500, "colour");
    row("venn1 centre of the first circle", "venn1", 325, 600, "clear");
    row("venn3 white box", "venn3", 990, 20, "white");
}

void TestDiagrams::strokesWhereTheDiagramPutsThem()
{
    QFETCH(QString, routine);
    QFETCH(QPointF, at);
    QFETCH(QString, expect);
    Tutor tutor;
    MainWindow& w = tutor.create();
    draw(w, routine);
    const QImage& d = w.Picture1->drawing();
    const QPoint px = w.Picture1->toPixels(at.x(), at.y());
    if (expect == QLatin1String("foreground"))
        QVERIFY(anyNear(d, px, isForeground));
    else if (expect == QLatin1String("red"))
        QVERIFY(anyNear(d, px, [](QRgb p) { return p == kRed; }));
    else if (expect == QLatin1String("green"))
        QVERIFY(anyNear(d, px, [](QRgb p) { return p == kGreen; }));
    else if (expect == QLatin1String("white"))
        QVERIFY(allNear(d, px, [](QRgb p) { return p == kWhite; }));
    else if (expect == QLatin1String("colour"))
        QVERIFY(anyNear(d, px, [](QRgb p) {
            return qAlpha(p) == 255 && qRed(p) >= 100 && qGreen(p) >= 100 && qBlue(p) >= 100 && p != kWhite;
        }));
    else
        QVERIFY(allNear(d, px, isClear));
}

void TestDiagrams::textsExactlyWhereQuoted_data()
{
    QTest::addColumn<QString>("routine");
    QTest::addColumn<QPointF>("at");
    QTest::addColumn<QString>("text");
    auto row = [](const char* routine, double x, double y, const QString& text) {
        QTest::addRow("%s %s", routine, qPrintable(text)) << QString::fromLatin1(routine) << QPointF(x, y) << text;
    };
    row("graph1", 300, 50, QStringLiteral("velocity v vs. clock time t"));
    row("graph1", 50, 500, QStringLiteral("4"));
    row("graph1", 700, 950, QStringLiteral("6"));
    row("graph1", 900, 870, QStringLiteral(">"));
    row("graph1", 90, 100, QStringLiteral("^"));
    row("graph2", 300, 50, QStringLiteral("Value y (dollars) vs. clock time t (months)"));
    row("graph2", 10, 400, QStringLiteral("5500"));
    row("graph2", 590, 950, QStringLiteral("10"));
    row("graph2", 690, 950, QStringLiteral("12"));
    row("graph2", 470, 750, QStringLiteral("rise 300"));
    row("graph2", 430, 450, QStringLiteral("slope 40"));
    row("graph3", 300, 50, QStringLiteral("Depth y (dollars) vs. clock time t (seconds)"));
    row("graph3", 590, 950, QStringLiteral("100"));
    row("graph3", 320, 550, QStringLiteral("rise -40"));
    row("graph3", 110, 650, QStringLiteral("slope -1.33"));
    row("graph3", 570, 750, QStringLiteral("rise -20"));
    row("graph3", 300, 750, QStringLiteral("slope -.4"));
    row("graph3", 50, 100, QStringLiteral("y"));
    row("venn1", 30, 30, QStringLiteral("IV"));
    row("venn2", 800, 620, QStringLiteral("k"));
    row("venn3", 200, 950, QStringLiteral("Total 1st Circle 20"));
    row("venn3", 700, 950, QStringLiteral("Total 2d Circle 15"));
    row("venn3", 10, 150, QStringLiteral("8"));
}

void TestDiagrams::textsExactlyWhereQuoted()
{
    QFETCH(QString, routine);
    QFETCH(QPointF, at);
    QFETCH(QString, text);
    Tutor tutor;
    MainWindow& w = tutor.create();
    draw(w, routine);

    // The same text alone in a box of the same size and font: wherever it has ink, the
    // diagram must show ink of the foreground too.
    PictureBox alone;
    alone.setFont(w.Picture1->font());
    alone.resize(w.Picture1->size());
    alone.setCurrentX(at.x());
    alone.setCurrentY(at.y());
    alone.print(text);
    const QImage& reference = alone.drawing();
    const QImage& d = w.Picture1->drawing();
    int solid = 0;
    for (int y = 0; y < reference.height(); ++y) {
        for (int x = 0; x < reference.width(); ++x) {
            if (isClear(reference.pixel(x, y)))
                continue;
            ++solid;
            const QRgb p = d.pixel(x, y);
            QVERIFY2(isForeground(p), qPrintable(QStringLiteral("no ink at %1,%2").arg(x).arg(y)));
        }
    }
    QVERIFY(solid > 0);
}

void TestDiagrams::coloursOfEachDiagram_data()
{
    QTest::addColumn<QString>("routine");
    QTest::addColumn<bool>("red");
    QTest::addColumn<bool>("green");
    QTest::addColumn<bool>("whiteBox");
    QTest::newRow("graph1") << QStringLiteral("graph1") << false << false << false;
    QTest::newRow("graph2") << QStringLiteral("graph2") << true << false << true;
    QTest::newRow("graph3") << QStringLiteral("graph3") << true << true << true;
    QTest::newRow("venn1") << QStringLiteral("venn1") << false << false << false;
    QTest::newRow("venn3") << QStringLiteral("venn3") << false << false << true;
}

void TestDiagrams::coloursOfEachDiagram()
{
    QFETCH(QString, routine);
    QFETCH(bool, red);
    QFETCH(bool, green);
    QFETCH(bool, whiteBox);
    Tutor tutor;
    MainWindow& w = tutor.create();
    draw(w, routine);
    const QImage& d = w.Picture1->drawing();
    QCOMPARE(countWhere(d, [](QRgb p) { return p == kRed; }) > 0, red);
    QCOMPARE(countWhere(d, [](QRgb p) { return p == kGreen; }) > 0, green);
    // The box covers the whole area; without it most of the area stays clear.
    QCOMPARE(countWhere(d, isClear) == 0, whiteBox);
}

void TestDiagrams::graph1TwiceIsGraph1Once()
{
    QCOMPARE(drawnBy({QStringLiteral("graph1"), QStringLiteral("graph1")}), drawnBy({QStringLiteral("graph1")}));
}

void TestDiagrams::graph1DrawsOverGraph2()
{
    Tutor tutor;
    MainWindow& w = tutor.create();
    w.graph2();
    w.graph1();
    const QImage& d = w.Picture1->drawing();
    auto at = [&w](double x, double y) { return w.Picture1->toPixels(x, y); };
    // graph2's rise, white box and its grid line at y=400 stay; graph1 adds its cross and axis.
    QVERIFY(anyNear(d, at(450, 650), [](QRgb p) { return p == kRed; }));
    QVERIFY(allNear(d, at(990, 20), [](QRgb p) { return p == kWhite; }));
    QVERIFY(anyNear(d, at(850, 400), isForeground));
    QVERIFY(anyNear(d, at(420, 680), isForeground));
    QVERIFY(anyNear(d, at(100, 970), isForeground));
    QCOMPARE(countWhere(d, isClear), 0);
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

void TestDiagrams::vennColoursComeFromTheGeneratorInOrder()
{
    Tutor tutor;
    MainWindow& w = tutor.create();
    RandomSource random(0.0); // the window's generator before start-up seeds it
    const int row = w.Picture1->toPixels(0, 500).y();
    const QList<void (MainWindow::*)()> routines{&MainWindow::venn1, &MainWindow::venn2, &MainWindow::venn3};
    for (int i = 0; i < 300; ++i) {
        (w.*routines[i % 3])();
        const QColor first = expectedVennColour(random);
        const QColor second = expectedVennColour(random);
        QCOMPARE(edgeColour(w.Picture1->drawing(), row, true), first);
        QCOMPARE(edgeColour(w.Picture1->drawing(), row, false), second);
    }
}

void TestDiagrams::vennColoursStayLightOverManySeeds_data()
{
    QTest::addColumn<double>("seed");
    for (double seed : {0.0, 0.5, 1.0, 37.25, 3599.0, 43200.0, 61234.5, 86399.99})
        QTest::addRow("seed %g", seed) << seed;
}

void TestDiagrams::vennColoursStayLightOverManySeeds()
{
    QFETCH(double, seed);
    Tutor tutor;
    tutor.seed = seed;
    MainWindow& w = tutor.startHome(QStringLiteral("1"));
    QVERIFY(!w.hasEnded());
    const int row = w.Picture1->toPixels(0, 500).y();
    QSet<QRgb> seen;
    for (int i = 0; i < 200; ++i) {
        w.venn1();
        for (bool left : {true, false}) {
            const QColor c = edgeColour(w.Picture1->drawing(), row, left);
            for (int component : {c.red(), c.green(), c.blue()})
                QVERIFY2(component >= 100 && component <= 255, qPrintable(c.name()));
            seen << c.rgb();
        }
    }
    QVERIFY2(seen.size() > 300, "every circle takes a fresh colour");
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
    MainWindow& w = tutor.create();
    w.Picture1->setPicture(picture1);
    w.Picture2->setPicture(picture2Before);
    w.graph2();
    w.lineIndex = 12;
    w.currentLine = QStringLiteral("a question");
    w.cumulativeText = QStringLiteral("so far");
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("left by another program"));

    for (int c = 0; c < clicks; ++c)
        QTest::mouseClick(tutor.control<QPushButton>("cmd_copy_picture"), Qt::LeftButton);

    const QImage got = w.Picture2->picture();
    QCOMPARE(got.isNull(), picture2After.isNull());
    if (!picture2After.isNull()) {
        QCOMPARE(got.convertToFormat(QImage::Format_ARGB32), picture2After.convertToFormat(QImage::Format_ARGB32));
        QCOMPARE(clipboard->image().convertToFormat(QImage::Format_ARGB32),
                 picture2After.convertToFormat(QImage::Format_ARGB32));
    } else {
        QCOMPARE(clipboard->text(), QStringLiteral("left by another program"));
    }
    // Only the picture travels: graph2 stays in Picture1 and Picture2 has no drawing.
    QCOMPARE(countWhere(w.Picture2->drawing(), [](QRgb p) { return !isClear(p); }), 0);
    QCOMPARE(w.Picture1->drawing(), drawnBy({QStringLiteral("graph2")}));
    QCOMPARE(w.Picture1->picture(), picture1);
    QVERIFY(!w.hasEnded());
    QCOMPARE(tutor.ends, 0);
    QCOMPARE(w.lineIndex, 12);
    QCOMPARE(w.currentLine, QStringLiteral("a question"));
    QCOMPARE(w.cumulativeText, QStringLiteral("so far"));
}

QTEST_MAIN(TestDiagrams)
#include "tst_diagrams.moc"

#include <QClipboard>
#include <QGuiApplication>
#include <QPushButton>
#include <QTest>

#include "support/tutor_fixture.h"
#include "widgets/picture_box.h"

namespace {

// One drawing step as the class notes describe the diagram.
struct Step {
    enum Kind { WhiteBox, Line, Circle, Text } kind = Line;
    QLineF at; // a circle: centre at p1, radius in x2
    QString text;
    QColor colour; // invalid: the foreground
};
using Steps = QList<Step>;

Step line(double x1, double y1, double x2, double y2, QColor colour = {})
{
    return {Step::Line, QLineF(x1, y1, x2, y2), {}, colour};
}
Step text(double x, double y, const char* s)
{
    return {Step::Text, QLineF(x, y, x, y), QString::fromUtf8(s), {}};
}
Step circle(double x, double y, const QColor& colour)
{
    return {Step::Circle, QLineF(x, y, 300, 0), {}, colour};
}
const Step kWhiteBox{Step::WhiteBox, {}, {}, {}};
const QColor kRedLine(255, 0, 0);
const QColor kGreenLine(0, 255, 0);

Steps graph1Steps()
{
    Steps s{text(300, 50, "velocity v vs. clock time t"),
            line(0, 900, 900, 900),
            line(100, 1000, 100, 100),
            text(900, 950, "t"),
            text(900, 870, ">"),
            text(90, 100, "^"),
            text(50, 100, "v"),
            line(100, 900, 700, 500),
            text(50, 500, "4"),
            text(50, 600, "3"),
            text(50, 700, "2"),
            text(50, 800, "1")};
    for (int y : {500, 600, 700, 800})
        s << line(100, y, 900, y);
    s << text(200, 950, "1") << text(300, 950, "2") << text(400, 950, "3") << text(500, 950, "4") << text(600, 950, "5")
      << text(700, 950, "6");
    for (int x : {200, 300, 400, 500, 600, 700})
        s << line(x, 900, x, 100);
    return s << line(370, 670, 430, 730) << line(430, 670, 370, 730);
}

Steps graph2Steps()
{
    Steps s{kWhiteBox,
            text(10, 400, "5500"),
            text(10, 500, "5400"),
            text(10, 600, "5300"),
            text(10, 700, "5200"),
            text(10, 800, "5100"),
            text(10, 900, "5000")};
    for (int y : {400, 500, 600, 700, 800})
        s << line(100, y, 900, y);
    s << text(200, 950, "2") << text(300, 950, "4") << text(400, 950, "6") << text(500, 950, "8")
      << text(590, 950, "10") << text(690, 950, "12");
    for (int x : {200, 300, 400, 500, 600, 700})
        s << line(x, 900, x, 100);
    return s << text(300, 50, "Value y (dollars) vs. clock time t (months)") << line(0, 900, 900, 900)
             << line(100, 100, 100, 900) << line(250, 900, 450, 600) << line(250, 900, 450, 900, kRedLine)
             << text(300, 850, "run 4") << line(450, 900, 450, 600, kRedLine) << text(470, 750, "rise 300")
             << text(250, 650, "slope 75") << line(450, 600, 700, 400) << line(450, 600, 700, 600, kRedLine)
             << text(550, 550, "run 5") << line(700, 600, 700, 400, kRedLine) << text(720, 500, "rise 200")
             << text(430, 450, "slope 40") << text(900, 950, "t") << text(900, 870, ">") << text(90, 100, "^")
             << text(50, 100, "y");
}

Steps graph3Steps()
{
    Steps s{kWhiteBox,           text(10, 400, "100"), text(10, 500, "80"),
            text(10, 600, "60"), text(10, 700, "40"),  text(10, 800, "20")};
    for (int y : {400, 500, 600, 700, 800})
        s << line(100, y, 900, y);
    s << text(200, 950, "20") << text(300, 950, "40") << text(400, 950, "60") << text(500, 950, "80")
      << text(590, 950, "100");
    for (int x : {200, 300, 400, 500, 600, 700})
        s << line(x, 900, x, 100);
    return s << text(300, 50, "Depth y (dollars) vs. clock time t (seconds)") << line(0, 900, 900, 900)
             << line(100, 900, 100, 100) << line(150, 500, 300, 700) << line(150, 500, 300, 500, kRedLine)
             << text(180, 440, "run 30") << line(300, 500, 300, 700, kRedLine) << text(320, 550, "rise -40")
             << text(110, 650, "slope -1.33") << line(300, 700, 550, 800) << line(300, 700, 550, 700, kGreenLine)
             << text(430, 640, "run 50") << line(550, 700, 550, 800, kGreenLine) << text(570, 750, "rise -20")
             << text(300, 750, "slope -.4") << text(900, 950, "t") << text(900, 870, ">") << text(90, 100, "^")
             << text(50, 100, "y");
}

// The colours are the generator's draws of a window not yet started (seed 0), fixed here.
const QColor kFirstDraws[] = {{193, 203, 250}, {199, 245, 111}, {223, 199, 197}, {246, 121, 100}};

Steps vennSteps(int draw = 0)
{
    return {circle(325, 500, kFirstDraws[draw]),
            circle(675, 500, kFirstDraws[draw + 1]),
            text(500, 500, "I"),
            text(200, 500, "II"),
            text(800, 500, "III"),
            text(30, 30, "IV")};
}

Steps venn2Steps()
{
    return vennSteps() << text(400, 400, "a") << text(570, 570, "c") << text(520, 250, "f") << text(240, 260, "b")
                       << text(300, 600, "d") << text(200, 680, "e") << text(700, 440, "g") << text(800, 620, "k");
}

Steps venn3Steps()
{
    return Steps{kWhiteBox} + vennSteps()
           << text(200, 950, "Total 1st Circle 20") << text(700, 950, "Total 2d Circle 15") << text(530, 700, "8")
           << text(250, 290, "12") << text(700, 340, "7") << text(10, 150, "8");
}

QString describe(const Step& s)
{
    switch (s.kind) {
    case Step::WhiteBox:
        return QStringLiteral("the white box");
    case Step::Text:
        return QStringLiteral("text \"%1\" at (%2, %3)").arg(s.text).arg(s.at.x1()).arg(s.at.y1());
    case Step::Circle:
        return QStringLiteral("circle about (%1, %2)").arg(s.at.x1()).arg(s.at.y1());
    case Step::Line:
        break;
    }
    return QStringLiteral("line (%1, %2)-(%3, %4)").arg(s.at.x1()).arg(s.at.y1()).arg(s.at.x2()).arg(s.at.y2());
}

void apply(PictureBox& box, const Step& s)
{
    const std::optional<QColor> colour = s.colour.isValid() ? std::optional(s.colour) : std::nullopt;
    switch (s.kind) {
    case Step::WhiteBox:
        box.filledBox(0, 0, 1000, 1000, QColor(255, 255, 255));
        break;
    case Step::Line:
        box.line(s.at.x1(), s.at.y1(), s.at.x2(), s.at.y2(), colour);
        break;
    case Step::Circle:
        box.circle(s.at.x1(), s.at.y1(), s.at.x2(), colour);
        break;
    case Step::Text:
        box.setCurrentX(s.at.x1());
        box.setCurrentY(s.at.y1());
        box.print(s.text);
        break;
    }
}

// The steps drawn, in order, into a box of the same size and font as the window's.
QImage drawnFrom(const Steps& steps, const PictureBox& like)
{
    PictureBox box;
    box.setFont(like.font());
    box.resize(like.size());
    for (const Step& s : steps)
        apply(box, s);
    return box.drawing();
}

// Names the steps whose own pixels differ, so a failure says which line or text is wrong.
QString differences(const QImage& got, const QImage& want, const Steps& steps, const PictureBox& like)
{
    QRect differing;
    for (int y = 0; y < want.height(); ++y) {
        for (int x = 0; x < want.width(); ++x) {
            if (got.pixel(x, y) != want.pixel(x, y))
                differing |= QRect(x, y, 1, 1);
        }
    }
    QStringList named;
    for (const Step& s : steps) {
        const QImage own = drawnFrom({s}, like);
        bool touched = false;
        for (int y = differing.top(); y <= differing.bottom() && !touched; ++y) {
            for (int x = differing.left(); x <= differing.right() && !touched; ++x)
                touched = qAlpha(own.pixel(x, y)) != 0 && got.pixel(x, y) != want.pixel(x, y);
        }
        if (touched && s.kind != Step::WhiteBox)
            named << describe(s);
    }
    return QStringLiteral("pixels differ in %1,%2 %3x%4; steps concerned: %5")
        .arg(differing.x())
        .arg(differing.y())
        .arg(differing.width())
        .arg(differing.height())
        .arg(named.isEmpty() ? QStringLiteral("none: something drawn that no step draws") : named.join(u"; "));
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
    const QImage before = drawnFrom({{Step::Text, QLineF(at, at), text.left(index), {}}}, like);
    const QImage with = drawnFrom({{Step::Text, QLineF(at, at), text.left(index + 1), {}}}, like);
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

Q_DECLARE_METATYPE(Steps)

class TestDiagrams : public QObject {
    Q_OBJECT
private slots:
    void everyStepWhereAndHowTheDiagramPutsIt_data();
    void everyStepWhereAndHowTheDiagramPutsIt();
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

void TestDiagrams::everyStepWhereAndHowTheDiagramPutsIt_data()
{
    QTest::addColumn<QStringList>("routines");
    QTest::addColumn<Steps>("steps");
    QTest::newRow("graph1") << QStringList{"graph1"} << graph1Steps();
    QTest::newRow("graph2") << QStringList{"graph2"} << graph2Steps();
    QTest::newRow("graph3") << QStringList{"graph3"} << graph3Steps();
    QTest::newRow("venn1") << QStringList{"venn1"} << vennSteps();
    QTest::newRow("venn2") << QStringList{"venn2"} << venn2Steps();
    QTest::newRow("venn3") << QStringList{"venn3"} << venn3Steps();
    QTest::newRow("graph1 over graph2, nothing cleared")
        << QStringList{"graph2", "graph1"} << graph2Steps() + graph1Steps();
    QTest::newRow("venn1 again: new colours over the first")
        << QStringList{"venn1", "venn1"} << vennSteps(0) + vennSteps(2);
}

void TestDiagrams::everyStepWhereAndHowTheDiagramPutsIt()
{
    QFETCH(QStringList, routines);
    QFETCH(Steps, steps);
    Tutor tutor;
    MainWindow& w = tutor.create();
    for (const QString& r : routines)
        draw(w, r);
    const QImage& got = ui(w).Picture1->drawing();
    const QImage want = drawnFrom(steps, *ui(w).Picture1);
    QVERIFY2(got == want, qPrintable(differences(got, want, steps, *ui(w).Picture1)));
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
    const QImage whole = drawnFrom({{Step::Text, QLineF(at, at), text, {}}}, *ui(w).Picture1);
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

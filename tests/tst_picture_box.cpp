#include <QPaintEvent>
#include <QPainter>
#include <QTest>

#include "widgets/picture_box.h"

namespace {

// The widget sizes include the 2-pixel frame on each side.
const QSize kDesignedBox(345, 225); // inner area 341 x 221

QRect inkBounds(const QImage& image, QRgb* only = nullptr)
{
    QRect bounds;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) == 0)
                continue;
            if (only && pixel != *only)
                continue;
            bounds |= QRect(x, y, 1, 1);
        }
    }
    return bounds;
}

QRect spanning(QPoint a, QPoint b)
{
    return {QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
            QPoint(std::max(a.x(), b.x()), std::max(a.y(), b.y()))};
}

int inkCount(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) != 0;
    }
    return count;
}

// Records the rectangles that the box is asked to repaint.
class PaintRecorder : public QObject {
public:
    QList<QRect> rects;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            rects << static_cast<QPaintEvent*>(event)->rect();
        return false;
    }
};

} // namespace

class TestPictureBox : public QObject {
    Q_OBJECT
private slots:
    void userPointsLandOnTheirPixel_data();
    void userPointsLandOnTheirPixel();
    void linesAreOnePixelWide_data();
    void linesAreOnePixelWide();
    void filledBoxCoversBothCorners_data();
    void filledBoxCoversBothCorners();
    void circlesAreRoundOnScreen_data();
    void circlesAreRoundOnScreen();
    void textHangsFromTheCurrentPosition_data();
    void textHangsFromTheCurrentPosition();
    void textLeavesWhatIsUnderItsGaps();
    void textPrintedTwiceLooksAsOnce_data();
    void textPrintedTwiceLooksAsOnce();
    void pictureStaysApartFromTheDrawing();
    void drawingSurvivesShrinkingAndGrowing_data();
    void drawingSurvivesShrinkingAndGrowing();
    void firstDrawingCoversTheBoxAsItIsThen_data();
    void firstDrawingCoversTheBoxAsItIsThen();
    void screenShowsDrawingOverPictureOverBackground();
    void repaintsOnlyWhatAnOperationTouched_data();
    void repaintsOnlyWhatAnOperationTouched();
};

void TestPictureBox::userPointsLandOnTheirPixel_data()
{
    QTest::addColumn<QSize>("box");
    QTest::addColumn<QSizeF>("scale");
    QTest::addColumn<QPointF>("point");
    QTest::addColumn<QPoint>("pixel");
    QTest::newRow("origin is the top-left inner pixel")
        << kDesignedBox << QSizeF(1000, 1000) << QPointF(0, 0) << QPoint(0, 0);
    QTest::newRow("a title's corner, 30% across and 5% down")
        << kDesignedBox << QSizeF(1000, 1000) << QPointF(300, 50) << QPoint(102, 11);
    QTest::newRow("the graph origin") << kDesignedBox << QSizeF(1000, 1000) << QPointF(100, 900) << QPoint(34, 199);
    QTest::newRow("y grows downwards") << kDesignedBox << QSizeF(1000, 1000) << QPointF(0, 990) << QPoint(0, 219);
    QTest::newRow("another scale") << kDesignedBox << QSizeF(100, 50) << QPointF(10, 5) << QPoint(34, 22);
    QTest::newRow("a square box") << QSize(104, 104) << QSizeF(1000, 1000) << QPointF(250, 750) << QPoint(25, 75);
}

void TestPictureBox::userPointsLandOnTheirPixel()
{
    QFETCH(QSize, box);
    QFETCH(QSizeF, scale);
    QFETCH(QPointF, point);
    QFETCH(QPoint, pixel);
    PictureBox p;
    p.resize(box);
    p.setScale(scale.width(), scale.height());
    p.line(point.x(), point.y(), point.x(), point.y());
    if (QRect(QPoint(), p.innerRect().size()).contains(pixel)) {
        QCOMPARE(inkBounds(p.drawing()), QRect(pixel, QSize(1, 1)));
        QCOMPARE(inkCount(p.drawing()), 1);
    } else {
        QCOMPARE(inkCount(p.drawing()), 0);
    }
    QCOMPARE(p.toPixels(point.x(), point.y()), pixel);
}

void TestPictureBox::linesAreOnePixelWide_data()
{
    QTest::addColumn<QLineF>("line");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("horizontal, foreground") << QLineF(100, 500, 900, 500) << QColor();
    QTest::newRow("vertical, red") << QLineF(100, 900, 100, 100) << QColor(255, 0, 0);
    QTest::newRow("right to left") << QLineF(700, 600, 450, 600) << QColor(0, 255, 0);
    QTest::newRow("shallow slope") << QLineF(100, 900, 700, 500) << QColor();
    QTest::newRow("steep slope") << QLineF(450, 600, 700, 400) << QColor();
    QTest::newRow("falling diagonal") << QLineF(370, 670, 430, 730) << QColor();
}

void TestPictureBox::linesAreOnePixelWide()
{
    QFETCH(QLineF, line);
    QFETCH(QColor, colour);
    PictureBox p;
    p.resize(kDesignedBox);
    p.setForeColor(QColor(20, 30, 40));
    if (colour.isValid())
        p.line(line.x1(), line.y1(), line.x2(), line.y2(), colour);
    else
        p.line(line.x1(), line.y1(), line.x2(), line.y2());

    const QColor expected = colour.isValid() ? colour : QColor(20, 30, 40);
    const QPoint a = p.toPixels(line.x1(), line.y1());
    const QPoint b = p.toPixels(line.x2(), line.y2());
    const QImage& d = p.drawing();
    QCOMPARE(d.pixelColor(a), expected);
    QCOMPARE(d.pixelColor(b), expected);
    QCOMPARE(inkBounds(d), spanning(a, b));
    // One pixel across: exactly one inked pixel per step along the longer axis.
    const bool alongX = std::abs(b.x() - a.x()) >= std::abs(b.y() - a.y());
    const int steps = alongX ? std::abs(b.x() - a.x()) + 1 : std::abs(b.y() - a.y()) + 1;
    QCOMPARE(inkCount(d), steps);
    QRgb rgb = expected.rgba();
    QCOMPARE(inkBounds(d, &rgb), spanning(a, b));
}

void TestPictureBox::filledBoxCoversBothCorners_data()
{
    QTest::addColumn<QRectF>("corners"); // as (x1, y1) to (x2, y2), in either order
    QTest::addColumn<QRect>("pixels");
    QTest::newRow("whole area") << QRectF(QPointF(0, 0), QPointF(1000, 1000)) << QRect(0, 0, 341, 221);
    QTest::newRow("inner square") << QRectF(QPointF(100, 100), QPointF(200, 200))
                                  << QRect(QPoint(34, 22), QPoint(68, 44));
    QTest::newRow("corners swapped") << QRectF(QPointF(200, 200), QPointF(100, 100))
                                     << QRect(QPoint(34, 22), QPoint(68, 44));
}

void TestPictureBox::filledBoxCoversBothCorners()
{
    QFETCH(QRectF, corners);
    QFETCH(QRect, pixels);
    PictureBox p;
    p.resize(kDesignedBox);
    const QColor white(255, 255, 255);
    p.filledBox(corners.left(), corners.top(), corners.right(), corners.bottom(), white);
    QRgb rgb = white.rgba();
    QCOMPARE(inkBounds(p.drawing()), pixels);
    QCOMPARE(inkBounds(p.drawing(), &rgb), pixels);
    QCOMPARE(inkCount(p.drawing()), pixels.width() * pixels.height());
}

void TestPictureBox::circlesAreRoundOnScreen_data()
{
    QTest::addColumn<QSize>("box");
    QTest::addColumn<QSizeF>("scale");
    QTest::addColumn<QPointF>("centre");
    QTest::addColumn<double>("radius");
    QTest::addColumn<int>("pixelRadius");
    QTest::newRow("wide box, radius in horizontal units")
        << kDesignedBox << QSizeF(1000, 1000) << QPointF(500, 500) << 300.0 << 102;
    QTest::newRow("tall box") << QSize(225, 345) << QSizeF(1000, 1000) << QPointF(500, 500) << 300.0 << 66;
    QTest::newRow("uneven scale") << kDesignedBox << QSizeF(2000, 500) << QPointF(1000, 250) << 200.0 << 34;
    QTest::newRow("venn circle") << kDesignedBox << QSizeF(1000, 1000) << QPointF(325, 500) << 300.0 << 102;
}

void TestPictureBox::circlesAreRoundOnScreen()
{
    QFETCH(QSize, box);
    QFETCH(QSizeF, scale);
    QFETCH(QPointF, centre);
    QFETCH(double, radius);
    QFETCH(int, pixelRadius);
    PictureBox p;
    p.resize(box);
    p.setScale(scale.width(), scale.height());
    p.circle(centre.x(), centre.y(), radius);
    const QRect ink = inkBounds(p.drawing());
    const QPoint c = p.toPixels(centre.x(), centre.y());
    QVERIFY2(std::abs(ink.width() - ink.height()) <= 1,
             qPrintable(QStringLiteral("%1 x %2").arg(ink.width()).arg(ink.height())));
    QVERIFY2(std::abs(ink.width() - (2 * pixelRadius + 1)) <= 2, qPrintable(QString::number(ink.width())));
    QVERIFY(std::abs(ink.center().x() - c.x()) <= 1);
    QVERIFY(std::abs(ink.center().y() - c.y()) <= 1);
    // An outline: the centre stays clear.
    QCOMPARE(qAlpha(p.drawing().pixel(c)), 0);
}

void TestPictureBox::textHangsFromTheCurrentPosition_data()
{
    QTest::addColumn<QPointF>("at");
    QTest::addColumn<QString>("text");
    QTest::newRow("title") << QPointF(300, 50) << QStringLiteral("velocity v vs. clock time t");
    QTest::newRow("label at the left edge") << QPointF(10, 400) << QStringLiteral("5500");
    QTest::newRow("capitals at the bottom") << QPointF(200, 900) << QStringLiteral("Total 1st Circle 20");
    QTest::newRow("sign and digits") << QPointF(320, 550) << QStringLiteral("rise -40");
}

void TestPictureBox::textHangsFromTheCurrentPosition()
{
    QFETCH(QPointF, at);
    QFETCH(QString, text);
    PictureBox p;
    p.resize(kDesignedBox);
    p.setCurrentX(at.x());
    p.setCurrentY(at.y());
    p.print(text);

    // Every row holds a capital, a digit or a tall letter, whose top lies a cap height above
    // the baseline, and the baseline lies one ascent below the current position. Measured in
    // the font the text is drawn in: FreeType's full hinting widens a text by pixels.
    const QFontMetrics metrics(p.printFont());
    const QPoint corner = p.toPixels(at.x(), at.y());
    QRgb foreground = qRgb(0, 0, 0); // the outline about the glyphs is not the text's ink
    const QRect ink = inkBounds(p.drawing(), &foreground);
    const int capTop = corner.y() + metrics.ascent() - metrics.capHeight();
    QVERIFY2(std::abs(ink.top() - capTop) <= 2,
             qPrintable(QStringLiteral("top %1, expected %2").arg(ink.top()).arg(capTop)));
    QVERIFY2(ink.left() >= corner.x() - 1 && ink.left() <= corner.x() + 2,
             qPrintable(QStringLiteral("left %1, expected %2").arg(ink.left()).arg(corner.x())));
    QVERIFY(ink.bottom() < corner.y() + metrics.height());
    QVERIFY(std::abs(ink.width() - metrics.boundingRect(text).width()) <= 2);
}

void TestPictureBox::textLeavesWhatIsUnderItsGaps()
{
    PictureBox p;
    p.resize(kDesignedBox);
    const QColor red(255, 0, 0);
    p.filledBox(0, 0, 1000, 1000, red);
    p.setCurrentX(100);
    p.setCurrentY(100);
    p.print(QStringLiteral("I  -  I"));

    // Each pixel as a person sees it: the glyphs' ink, the background colour in an outline
    // that follows them (two pixels to the sides and above, one below, round at the corners),
    // and the red box untouched everywhere else, between the words too.
    const QImage& d = p.drawing();
    QRgb black = qRgb(0, 0, 0);
    const QRect ink = inkBounds(d, &black);
    QVERIFY(ink.width() > QFontMetrics(p.font()).horizontalAdvance(QStringLiteral("I  -")));
    auto nearInk = [&](int x, int y) {
        for (int dy = -1; dy <= 2; ++dy) {
            for (int dx = -2; dx <= 2; ++dx) {
                if (dx * dx + dy * dy <= 5 && d.pixel(x + dx, y + dy) == black)
                    return true;
            }
        }
        return false;
    };
    QStringList wrong;
    for (int y = ink.top() - 4; y <= ink.bottom() + 4; ++y) {
        for (int x = ink.left() - 4; x <= ink.right() + 4; ++x) {
            const QColor expected = d.pixel(x, y) == black ? QColor(Qt::black)
                                    : nearInk(x, y)        ? QColor(Qt::white)
                                                           : red;
            if (d.pixelColor(x, y) != expected)
                wrong << QStringLiteral("(%1, %2) %3").arg(x).arg(y).arg(d.pixelColor(x, y).name());
        }
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.mid(0, 10).join(QStringLiteral(", "))));
}

void TestPictureBox::textPrintedTwiceLooksAsOnce_data()
{
    QTest::addColumn<QString>("beneath");
    QTest::newRow("nothing") << QString();
    QTest::newRow("a grid line through it") << QStringLiteral("line");
    QTest::newRow("a red box") << QStringLiteral("box");
}

void TestPictureBox::textPrintedTwiceLooksAsOnce()
{
    QFETCH(QString, beneath);
    auto printed = [&beneath](int times) {
        PictureBox p;
        p.resize(kDesignedBox);
        if (beneath == QLatin1String("line"))
            p.line(130, 0, 130, 1000);
        else if (beneath == QLatin1String("box"))
            p.filledBox(0, 0, 1000, 1000, QColor(255, 0, 0));
        for (int i = 0; i < times; ++i) {
            p.setCurrentX(100);
            p.setCurrentY(100);
            p.print(QStringLiteral("slope -.4"));
        }
        return p.drawing();
    };
    QCOMPARE(printed(2), printed(1));
}

void TestPictureBox::pictureStaysApartFromTheDrawing()
{
    PictureBox p;
    p.resize(kDesignedBox);
    QImage picture(50, 40, QImage::Format_RGB32);
    picture.fill(QColor(0, 0, 200));
    p.setPicture(picture);
    QCOMPARE(inkCount(p.drawing()), 0);

    p.line(0, 100, 1000, 100);
    const int row = p.toPixels(0, 100).y();
    QCOMPARE(p.picture(), picture);
    QImage shown = p.rendered();
    QCOMPARE(shown.pixelColor(30, 30), QColor(0, 0, 200));
    QCOMPARE(shown.pixelColor(30, row), QColor(Qt::black));
    QCOMPARE(shown.pixelColor(200, row + 5), QColor(Qt::white));
    QCOMPARE(shown.pixelColor(200, row), QColor(Qt::black));

    p.setPicture(QImage());
    QCOMPARE(p.rendered().pixelColor(30, 30), QColor(Qt::white));
    QCOMPARE(p.rendered().pixelColor(30, row), QColor(Qt::black));
}

void TestPictureBox::drawingSurvivesShrinkingAndGrowing_data()
{
    QTest::addColumn<QList<QSize>>("sizes"); // the box's sizes in turn, after the drawing
    QTest::newRow("smaller, then as before") << QList<QSize>{QSize(100, 60), kDesignedBox};
    QTest::newRow("wider only") << QList<QSize>{QSize(445, 225)};
    QTest::newRow("taller only") << QList<QSize>{QSize(345, 325)};
    QTest::newRow("narrower, then taller") << QList<QSize>{QSize(200, 225), QSize(200, 325)};
}

void TestPictureBox::drawingSurvivesShrinkingAndGrowing()
{
    QFETCH(QList<QSize>, sizes);
    PictureBox p;
    p.resize(kDesignedBox);
    p.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p));
    p.circle(500, 500, 450);
    const QImage before = p.rendered();

    for (const QSize& size : sizes) {
        p.resize(size);
        QCoreApplication::processEvents();
        QImage expected(p.innerRect().size(), before.format());
        expected.fill(Qt::white);
        QPainter(&expected).drawImage(0, 0, before);
        QCOMPARE(p.rendered(), expected);
    }
    // The kept drawing has grown with the box: a box over the whole scale covers every pixel.
    p.filledBox(0, 0, 1000, 1000, QColor(255, 0, 0));
    QImage red(p.innerRect().size(), before.format());
    red.fill(QColor(255, 0, 0));
    QCOMPARE(p.rendered(), red);
}

void TestPictureBox::firstDrawingCoversTheBoxAsItIsThen_data()
{
    QTest::addColumn<bool>("shownSmallFirst");
    QTest::addColumn<bool>("show");
    QTest::newRow("shown small, then grown") << true << true;
    QTest::newRow("grown, then shown") << false << true;
    QTest::newRow("never shown") << false << false;
}

void TestPictureBox::firstDrawingCoversTheBoxAsItIsThen()
{
    QFETCH(bool, shownSmallFirst);
    QFETCH(bool, show);
    PictureBox p;
    if (shownSmallFirst) {
        p.resize(100, 60);
        p.show();
        QVERIFY(QTest::qWaitForWindowExposed(&p));
    }
    p.resize(kDesignedBox);
    if (show) {
        p.show();
        QVERIFY(QTest::qWaitForWindowExposed(&p));
        QCoreApplication::processEvents();
        // Nothing drawn yet: the box shows its background and holds no canvas.
        QCOMPARE(p.grab().toImage().pixelColor(p.innerRect().center()), QColor(Qt::white));
    }
    QVERIFY(p.drawing().isNull());
    p.filledBox(0, 0, 1000, 1000, QColor(255, 0, 0));
    QCOMPARE(p.drawing().size(), p.innerRect().size());
    QCOMPARE(inkCount(p.drawing()), 341 * 221);
}

void TestPictureBox::screenShowsDrawingOverPictureOverBackground()
{
    PictureBox p;
    p.resize(kDesignedBox);
    QImage picture(100, 100, QImage::Format_RGB32);
    picture.fill(QColor(0, 0, 200));
    p.setPicture(picture);
    p.line(0, 200, 1000, 200, QColor(255, 0, 0));
    p.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p));

    // A hidden-and-shown box repaints from its kept image, as after being covered.
    p.hide();
    p.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p));
    const QImage screen = p.grab().toImage();
    const QPoint inner = p.innerRect().topLeft();
    const int row = p.toPixels(0, 200).y();
    QCOMPARE(screen.pixelColor(inner + QPoint(10, 10)), QColor(0, 0, 200));
    QCOMPARE(screen.pixelColor(inner + QPoint(10, row)), QColor(255, 0, 0));
    QCOMPARE(screen.pixelColor(inner + QPoint(200, row)), QColor(255, 0, 0));
    QCOMPARE(screen.pixelColor(inner + QPoint(200, 150)), QColor(Qt::white));
    QCOMPARE(screen.copy(p.innerRect()), p.rendered().convertToFormat(screen.format()));

    // A sunken frame, whole to every corner: dark outside and shadow inside along the top and
    // the left, midlight outside and light inside along the bottom and the right.
    QVERIFY(!p.hasFocus());
    const QPalette& pal = p.palette();
    const int w = p.width();
    const int h = p.height();
    auto frame = [&](int x, int y) {
        if (x == 0 || y == 0)
            return pal.color(QPalette::Dark);
        if (x == w - 1 || y == h - 1)
            return pal.color(QPalette::Midlight);
        return pal.color(x == 1 || y == 1 ? QPalette::Shadow : QPalette::Light);
    };
    auto wrongInFrame = [&p](const QImage& shown, auto colourAt) {
        QStringList wrong;
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                if (!p.innerRect().contains(x, y) && shown.pixel(x, y) != colourAt(x, y).rgb())
                    wrong << QStringLiteral("(%1, %2) %3").arg(x).arg(y).arg(shown.pixelColor(x, y).name());
            }
        }
        return wrong.mid(0, 10).join(QStringLiteral(", "));
    };
    QCOMPARE(wrongInFrame(screen, frame), QString());
    // With the focus (a box in a window), the whole frame takes the highlight colour.
    QWidget window;
    auto* focused = new PictureBox(&window);
    focused->resize(kDesignedBox);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    focused->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(focused->hasFocus());
    const QColor highlight = focused->palette().color(QPalette::Highlight);
    QCOMPARE(wrongInFrame(focused->grab().toImage(), [&](int, int) { return highlight; }), QString());
}

void TestPictureBox::repaintsOnlyWhatAnOperationTouched_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("short line") << QStringLiteral("line");
    QTest::newRow("small circle") << QStringLiteral("circle");
    QTest::newRow("text") << QStringLiteral("print");
    QTest::newRow("small box") << QStringLiteral("box");
}

void TestPictureBox::repaintsOnlyWhatAnOperationTouched()
{
    QFETCH(QString, operation);
    PictureBox p;
    p.resize(kDesignedBox);
    p.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p));
    PaintRecorder recorder;
    p.installEventFilter(&recorder);

    if (operation == QLatin1String("line")) {
        p.line(100, 100, 200, 130);
    } else if (operation == QLatin1String("circle")) {
        p.circle(500, 500, 30);
    } else if (operation == QLatin1String("box")) {
        p.filledBox(600, 600, 700, 650, QColor(Qt::red));
    } else {
        p.setCurrentX(300);
        p.setCurrentY(50);
        p.print(QStringLiteral("velocity"));
    }
    QTRY_VERIFY(!recorder.rects.isEmpty());
    QRect painted;
    for (const QRect& r : std::as_const(recorder.rects))
        painted |= r;
    QVERIFY2(painted.contains(inkBounds(p.drawing()).translated(p.innerRect().topLeft())), "what changed is repainted");
    QVERIFY2(painted.width() * painted.height() < p.width() * p.height() / 4, "the rest of the box is not");
}

QTEST_MAIN(TestPictureBox)
#include "tst_picture_box.moc"

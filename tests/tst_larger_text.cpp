#include <QApplication>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include "support/tutor_fixture.h"
#include "window/window_scale.h"

// The window on a desktop with larger text: fonts at 144 dots per inch while the window
// itself is not scaled (set in main, before the application starts).
class TestLargerText : public QObject {
    Q_OBJECT
private slots:
    void fromTwips_data();
    void fromTwips();
    void captionsFitAtLargerText();
    void largerThanTheScreenScrolls();
    void frameFitsWithItsDecoration_data();
    void frameFitsWithItsDecoration();
};

void TestLargerText::fromTwips_data()
{
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<double>("factor");
    QTest::addColumn<QRect>("pixels");
    QTest::newRow("as designed") << QRect(10200, 0, 735, 495) << 1.0 << QRect(680, 0, 49, 33);
    QTest::newRow("half as large again") << QRect(240, 720, 5175, 3255) << 1.5 << QRect(24, 72, 518, 326);
    // "display everything" ends where "display notes" begins (3600 + 855 = 4455, 4440 + 15).
    QTest::newRow("edges, not sizes") << QRect(4440, 240, 975, 495) << 1.5 << QRect(444, 24, 98, 50);
}

void TestLargerText::fromTwips()
{
    QFETCH(QRect, twips);
    QFETCH(double, factor);
    QFETCH(QRect, pixels);
    QCOMPARE(windowscale::fromTwips(twips.x(), twips.y(), twips.width(), twips.height(), factor), pixels);
}

void TestLargerText::captionsFitAtLargerText()
{
    QCOMPARE(windowscale::factor(), 1.5);
    Tutor tutor;
    MainWindow& w = tutor.create();
    QCOMPARE(w.size(), QSize(1088, 860));
    QCOMPARE(ui(w).cmd_quit->geometry(), QRect(1020, 0, 74, 50));
    for (auto* button : w.findChildren<CommandButton*>()) {
        QVERIFY2(button->captionSize().width() <= button->captionRect().width(), qPrintable(button->objectName()));
        QVERIFY2(button->captionSize().height() <= button->captionRect().height(), qPrintable(button->objectName()));
    }
    for (auto* label : w.findChildren<QLabel*>()) {
        const QRect needed = label->fontMetrics().boundingRect(label->rect(), Qt::TextWordWrap, label->text());
        QVERIFY2(label->rect().contains(needed), qPrintable(label->objectName()));
    }
}

void TestLargerText::largerThanTheScreenScrolls()
{
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    windowscale::showFitting(w);
    auto* frame = qobject_cast<QScrollArea*>(w.window());
    QVERIFY(frame);
    QVERIFY(QTest::qWaitForWindowActive(frame));
    // Taller than the screen: as tall as the free area holds with the frame's decoration.
    const QRect available = frame->screen()->availableGeometry();
    QTRY_COMPARE(frame->frameGeometry().bottom(), available.bottom());
    QVERIFY(available.contains(frame->frameGeometry()));
    QCOMPARE(frame->windowTitle(), QStringLiteral("Form1"));
    // Every control comes into view as the Tab key reaches it.
    ui(w).txt_question->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(ui(w).txt_question));
    bool scrolled = false;
    for (int i = 0; i < 20; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focused = QApplication::focusWidget();
        QVERIFY2(focused && w.isAncestorOf(focused), qPrintable(QString::number(i)));
        const QRect shown(focused->mapTo(frame->viewport(), QPoint()), focused->size());
        QVERIFY2(frame->viewport()->rect().intersects(shown), qPrintable(focused->objectName()));
        QVERIFY2(w.rect().contains(focused->geometry()), qPrintable(focused->objectName()));
        scrolled = scrolled || frame->horizontalScrollBar()->value() > 0 || frame->verticalScrollBar()->value() > 0;
    }
    QVERIFY(scrolled);
    QTest::mouseClick(ui(w).cmd_quit, Qt::LeftButton);
    QVERIFY(w.hasEnded());
    // The frame goes with the window's end; the window stays its owner's.
    const QPointer<QScrollArea> closed(frame);
    QTRY_VERIFY(closed.isNull());
    QCOMPARE(w.windowTitle(), QStringLiteral("Form1"));
}

void TestLargerText::frameFitsWithItsDecoration_data()
{
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QRect>("frame"); // for a window of 1470 × 1166 with a title bar of 25 and a border of 1
    QTest::newRow("1280×1024 at 192 dpi") << QRect(0, 0, 1280, 1024) << QRect(1, 25, 1278, 998);
    QTest::newRow("1920×1080 at 192 dpi, below a panel") << QRect(0, 40, 1920, 1040) << QRect(1, 65, 1470, 1014);
}

void TestLargerText::frameFitsWithItsDecoration()
{
    QFETCH(QRect, available);
    QFETCH(QRect, frame);
    QCOMPARE(windowscale::fittingFrame(available, {1, 25, 1, 1}, {1470, 1166}), frame);
}

int main(int argc, char** argv)
{
    qputenv("QT_FONT_DPI", "144");
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    QApplication app(argc, argv);
    TestLargerText test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_larger_text.moc"

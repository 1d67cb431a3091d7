#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "support/expected_records.h"
#include "support/tutor_fixture.h"

using namespace expected;
#include "widgets/picture_box.h"
#include "widgets/text_box.h"

class TestWindow : public QObject {
    Q_OBJECT
private slots:
    void wholeSessionOnSetFive();
    void controls_data();
    void controls();
    void windowItself();
    void tabOrderFollowsTheLayout();
    void focusStartsInTheQuestionBox();
    void captionsReadInFull();
    void inertControlsDoNothing();
    void textBoxSpeaksCrLf_data();
    void textBoxSpeaksCrLf();
    void endingClosesAndStopsEverything_data();
    void endingClosesAndStopsEverything();
    void closingAsksAboutTypedText_data();
    void closingAsksAboutTypedText();
    void enterPressesTheFocusedButton_data();
    void enterPressesTheFocusedButton();
    void closingWhileAQuestionIsOpenIsRefused();
};

void TestWindow::controls_data()
{
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(controltable::kRows.size()); ++i)
        QTest::newRow(controltable::kRows[size_t(i)].name) << i;
}

QString captionOf(QWidget* w)
{
    if (auto* b = qobject_cast<QPushButton*>(w))
        return b->text();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* t = qobject_cast<TextBox*>(w))
        return t->text();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    return QString();
}

bool isKind(QWidget* w, controltable::Kind kind)
{
    using controltable::Kind;
    switch (kind) {
    case Kind::TextBox:
        return qobject_cast<TextBox*>(w);
    case Kind::CommandButton:
        return qobject_cast<CommandButton*>(w);
    case Kind::PictureBox:
        return qobject_cast<PictureBox*>(w);
    case Kind::ListBox:
        return qobject_cast<QListWidget*>(w);
    case Kind::Label:
        return qobject_cast<QLabel*>(w);
    case Kind::LineEdit:
        return qobject_cast<QLineEdit*>(w);
    }
    return false;
}

void TestWindow::controls()
{
    QFETCH(int, row);
    const controltable::Row& want = controltable::kRows[size_t(row)];
    const QString name = QLatin1String(want.name);
    Tutor tutor;
    MainWindow& w = tutor.create();
    auto* control = w.findChild<QWidget*>(name);
    QVERIFY2(control, qPrintable(name));
    QVERIFY(isKind(control, want.kind));
    const QRect designed(want.left / 15, want.top / 15, want.width / 15, want.height / 15);
    if (qobject_cast<QLabel*>(control)) {
        // A label may take a little more room to the right for its caption, never less.
        QCOMPARE(control->geometry().topLeft(), designed.topLeft());
        QCOMPARE(control->height(), designed.height());
        QVERIFY(control->width() >= designed.width());
    } else {
        QCOMPARE(control->geometry(), designed);
    }
    // Every control starts inside the window and covers no other by more than a pixel's edge.
    QVERIFY(w.rect().contains(control->geometry().topLeft()));
    for (const controltable::Row& other : controltable::kRows) {
        auto* o = w.findChild<QWidget*>(QLatin1String(other.name));
        if (o == control)
            continue;
        const QRect both = control->geometry() & o->geometry();
        QVERIFY2(both.width() <= 1 || both.height() <= 1, other.name);
    }
    QCOMPARE(captionOf(control), QString::fromLatin1(want.caption));
    if (want.spoken)
        QCOMPARE(control->accessibleName(), QString::fromLatin1(want.spoken));
    QVERIFY(control->isEnabled());
    QVERIFY(!control->isHidden());
    // Text boxes show their scroll bar from the start, before the text outgrows them.
    if (auto* box = qobject_cast<TextBox*>(control)) {
        w.show();
        QVERIFY(box->verticalScrollBar()->isVisible());
        QVERIFY(!box->horizontalScrollBar()->isVisible());
    }
}

void TestWindow::windowItself()
{
    Tutor tutor;
    MainWindow& w = tutor.create();
    QCOMPARE(w.objectName(), QStringLiteral("cmd_pend_exp"));
    QCOMPARE(w.windowTitle(), QStringLiteral("Form1"));
    QCOMPARE(w.size(), QSize(725, 573));
    auto* timer = w.findChild<QTimer*>(QStringLiteral("tmr_pend_exp"));
    QVERIFY(timer);
    QVERIFY(!timer->isActive());
    QCOMPARE(timer->interval(), 15);
    QCOMPARE(w.findChild<QListWidget*>(QStringLiteral("List1"))->count(), 0);
    const QFont textFont = ui(w).txt_question->font();
    QCOMPARE(textFont.pointSizeF(), 9.75);
    QCOMPARE(ui(w).cmd_quit->font().pointSizeF(), 8.0);
    QCOMPARE(ui(w).lbl_parameter[0]->font().pointSizeF(), 8.0);
}

void TestWindow::tabOrderFollowsTheLayout()
{
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    // The table's order, labels passed over, round to the first again.
    QStringList expected;
    for (const controltable::Row& row : controltable::kRows)
        if (row.kind != controltable::Kind::Label)
            expected << QLatin1String(row.name);
    expected << expected.first();
    const QString question = ui(w).txt_question->text();
    const QString answer = ui(w).txt_answer->text();
    ui(w).txt_question->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(ui(w).txt_question));
    // The real key, as a student presses it: the text boxes pass it on instead of typing it.
    for (qsizetype i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY2(QApplication::focusWidget(), qPrintable(expected[i]));
        QCOMPARE(QApplication::focusWidget()->objectName(), expected[i]);
    }
    QCOMPARE(ui(w).txt_question->text(), question);
    QCOMPARE(ui(w).txt_answer->text(), answer);
}

void TestWindow::focusStartsInTheQuestionBox()
{
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(ui(w).txt_question));
}

void TestWindow::captionsReadInFull()
{
    // A caption wider than its button breaks over lines; every line must fit the button.
    Tutor tutor;
    MainWindow& w = tutor.create();
    for (auto* button : w.findChildren<CommandButton*>()) {
        const QFontMetrics metrics(button->font());
        const QSize needed = button->captionSize();
        const QString name = button->objectName();
        QVERIFY2(needed.width() <= button->captionRect().width(), qPrintable(name));
        QVERIFY2(needed.height() <= button->captionRect().height(), qPrintable(name));
        QCOMPARE(button->captionLines().join(u' '), button->text());
        for (const QString& line : button->captionLines())
            QVERIFY2(metrics.horizontalAdvance(line) <= button->captionRect().width(), qPrintable(name));
        // And it is painted, in the middle of the button's height: the rows where it shows
        // leave as much room above as below, give or take the font's descent.
        const QImage painted = button->grab().toImage();
        const QString caption = button->text();
        button->setText(QString());
        const QImage bare = button->grab().toImage();
        button->setText(caption);
        int top = -1;
        int bottom = -1;
        for (int y = 0; y < painted.height(); ++y) {
            for (int x = 0; x < painted.width(); ++x) {
                if (painted.pixel(x, y) != bare.pixel(x, y)) {
                    top = top < 0 ? y : top;
                    bottom = y;
                    break;
                }
            }
        }
        QVERIFY2(top >= 0, qPrintable(name));
        QVERIFY2(std::abs(top - (painted.height() - 1 - bottom)) <= metrics.descent() + 2, qPrintable(name));
    }
    QCOMPARE(ui(w).cmd_pend_exp->captionLines(), (QStringList{"pend", "exp"}));
    for (auto* label : w.findChildren<QLabel*>()) {
        const QRect needed = label->fontMetrics().boundingRect(label->rect(), Qt::TextWordWrap, label->text());
        QVERIFY2(label->rect().contains(needed), qPrintable(label->objectName()));
        for (auto* other : w.findChildren<QWidget*>()) {
            if (other != label && other->parent() == &w && !other->isWindow())
                QVERIFY2(!label->geometry().intersects(other->geometry()),
                         qPrintable(label->objectName() + u' ' + other->objectName()));
        }
    }
}

void TestWindow::inertControlsDoNothing()
{
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    const QByteArray master = tutor.homeBytes(QStringLiteral("masterFile.txt"));
    const int index = w.session().lineIndex();
    QTest::mouseClick(ui(w).cmd_timerTrigger, Qt::LeftButton);
    QTest::mouseClick(ui(w).lbl_only_if_prompted, Qt::LeftButton);
    QTest::keyClicks(ui(w).txt_parameter[2], QStringLiteral("42"));
    QVERIFY(!ui(w).tmr_pend_exp->isActive());
    QCOMPARE(w.session().lineIndex(), index);
    QCOMPARE(ui(w).txt_answer->text(), QStringLiteral(" "));
    QCOMPARE(ui(w).txt_question->text(), QString());
    QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")), master);
    QCOMPARE(tutor.sound.beeps, 0);
    QCOMPARE(tutor.prompter.messages, QStringList());
}

void TestWindow::textBoxSpeaksCrLf_data()
{
    QTest::addColumn<QString>("set");
    QTest::addColumn<QString>("readBack");
    QTest::newRow("crlf") << "a\r\n\r\nb"
                          << "a\r\n\r\nb";
    QTest::newRow("lone lf") << "a\nb"
                             << "a\r\nb";
    QTest::newRow("lone cr") << "a\rb"
                             << "a\r\nb";
    QTest::newRow("markup stays text") << "<b>bold</b> &amp;"
                                       << "<b>bold</b> &amp;";
    QTest::newRow("no-break space") << QString::fromUtf8("a\u00a0b") << QString::fromUtf8("a\u00a0b");
    QTest::newRow("trailing blanks") << "x   \r\n  "
                                     << "x   \r\n  ";
    QTest::newRow("empty") << ""
                           << "";
}

void TestWindow::textBoxSpeaksCrLf()
{
    QFETCH(QString, set);
    QFETCH(QString, readBack);
    TextBox box;
    box.setText(set);
    QCOMPARE(box.text(), readBack);
}

void TestWindow::endingClosesAndStopsEverything_data()
{
    QTest::addColumn<bool>("titleBar");
    QTest::newRow("quit program") << false;
    QTest::newRow("closed from the title bar") << true;
}

void TestWindow::endingClosesAndStopsEverything()
{
    QFETCH(bool, titleBar);
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    ui(w).tmr_pend_exp->start();
    if (titleBar) {
        // What the window system sends when the student clicks the close button.
        QCloseEvent close;
        QApplication::sendEvent(w.windowHandle(), &close);
    } else {
        QTest::mouseClick(ui(w).cmd_quit, Qt::LeftButton);
    }
    QVERIFY(w.hasEnded());
    QCOMPARE(tutor.ends, 1);
    QVERIFY(!w.isVisible());
    QVERIFY(!ui(w).tmr_pend_exp->isActive());
    // After the end no handler shows or writes anything.
    const QByteArray master = tutor.homeBytes(QStringLiteral("masterFile.txt"));
    ui(w).txt_answer->setText(QStringLiteral("late answer"));
    QMetaObject::invokeMethod(ui(w).cmd_enter_response, "click");
    QMetaObject::invokeMethod(ui(w).cmdNextQuestion, "click");
    QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")), master);
    QCOMPARE(ui(w).txt_question->text(), QString());
    QCOMPARE(tutor.ends, 1);
}

void TestWindow::closingAsksAboutTypedText_data()
{
    QTest::addColumn<int>("choice");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<int>("recorded");
    QTest::newRow("keep editing") << 0 << false << 0;
    QTest::newRow("record it") << 1 << true << 1;
}

void TestWindow::closingAsksAboutTypedText()
{
    // Closing settles the answer box as "quit program" does (tst_unfinished has every case).
    QFETCH(int, choice);
    QFETCH(bool, closes);
    QFETCH(int, recorded);
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    QTest::mouseClick(ui(w).cmdNextQuestion, Qt::LeftButton);
    ui(w).txt_answer->setText(QStringLiteral("draft"));
    tutor.prompter.choices = {choice};
    QCOMPARE(w.close(), closes);
    QCOMPARE(w.hasEnded(), closes);
    QCOMPARE(tutor.prompter.offered.size(), 1);
    QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")).count("RESPONSE -->  \r\ndraft\r\n"), recorded);
    QCOMPARE(ui(w).txt_answer->text(), closes ? QString() : QStringLiteral("draft"));
}

void TestWindow::enterPressesTheFocusedButton_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<bool>("presses");
    QTest::newRow("Return") << int(Qt::Key_Return) << Qt::KeyboardModifiers() << true;
    QTest::newRow("Enter on the keypad") << int(Qt::Key_Enter) << Qt::KeyboardModifiers(Qt::KeypadModifier) << true;
    QTest::newRow("Space") << int(Qt::Key_Space) << Qt::KeyboardModifiers() << true;
    QTest::newRow("Ctrl+Return") << int(Qt::Key_Return) << Qt::KeyboardModifiers(Qt::ControlModifier) << false;
}

void TestWindow::enterPressesTheFocusedButton()
{
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(bool, presses);
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    ui(w).txt_answer->setText(QStringLiteral("by key"));
    ui(w).cmd_enter_response->setFocus();
    QTRY_VERIFY(ui(w).cmd_enter_response->hasFocus());
    QTest::keyClick(ui(w).cmd_enter_response, Qt::Key(key), modifiers);
    QCOMPARE(tutor.homeBytes(QStringLiteral("masterFile.txt")).count("RESPONSE -->  \r\nby key\r\n"), presses ? 1 : 0);
    QCOMPARE(ui(w).txt_answer->text(), presses ? QString() : QStringLiteral("by key"));
}

void TestWindow::closingWhileAQuestionIsOpenIsRefused()
{
    // A close that arrives while the question about the answer box is still open waits for
    // the answer: the text is neither dropped nor recorded behind the student's back.
    Tutor tutor;
    struct CloseWhileAsking : Prompter {
        ScriptedPrompter* script;
        MainWindow* window;
        bool closedAccepted = true;
        std::optional<QString> ask(const QString& p) override { return script->ask(p); }
        void tell(const QString& m) override { script->tell(m); }
        bool retryOrQuit(const QString& m) override { return script->retryOrQuit(m); }
        FolderChoice createRetryOrQuit(const QString& m, FolderChoice preferred) override
        {
            return script->createRetryOrQuit(m, preferred);
        }
        int choose(const QString& m, const QStringList& c) override
        {
            // As the window manager's close button sends it, not through close().
            QCloseEvent event;
            QCoreApplication::sendEvent(window, &event);
            closedAccepted = event.isAccepted();
            return script->choose(m, c);
        }
    } prompter;
    prompter.script = &tutor.prompter;
    tutor.prompterInUse = &prompter;
    MainWindow& window = tutor.startHome(QStringLiteral("5"));
    prompter.window = &window;
    const QString big(1 << 20, u'a');
    ui(window).txt_answer->setText(big);
    QTest::mouseClick(ui(window).cmd_quit, Qt::LeftButton);
    QVERIFY(!prompter.closedAccepted);
    QVERIFY(!window.hasEnded());
    QCOMPARE(ui(window).txt_answer->text(), big);
}

void TestWindow::wholeSessionOnSetFive()
{
    Tutor tutor;
    walkSetFive(tutor);
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"

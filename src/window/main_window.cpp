#include "main_window.h"

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QShortcut>
#include <QTimer>

#include "widgets/announcer.h"
#include "widgets/command_button.h"
#include "widgets/picture_box.h"
#include "widgets/text_box.h"
#include "window/control_table.h"
#include "window/window_scale.h"

namespace {

const QString kTitle = QStringLiteral("Form1");

// The designed layout is in twips; 15 twips make a pixel at 96 dots per inch.
QRect twips(int left, int top, int width, int height)
{
    return windowscale::fromTwips(left, top, width, height, windowscale::factor());
}

// Each family the font database lacks costs a fallback search at start-up, so the families
// are tried in the order this platform most likely has them.
#ifdef Q_OS_WIN
const QStringList kDialogFamilies{QStringLiteral("MS Shell Dlg 2"), QStringLiteral("Tahoma"),
                                  QStringLiteral("Liberation Sans"), QStringLiteral("Arial")};
const QStringList kTextBoxFamilies{QStringLiteral("Arial"), QStringLiteral("Liberation Sans")};
#else
const QStringList kDialogFamilies{QStringLiteral("Liberation Sans"), QStringLiteral("Arial")};
const QStringList kTextBoxFamilies{QStringLiteral("Liberation Sans"), QStringLiteral("Arial")};
#endif

// The platform's dialog font at the size the layout was designed for; Liberation Sans
// has the same widths where the Windows fonts are missing.
QFont dialogFont()
{
    QFont font = QApplication::font();
    font.setFamilies(kDialogFamilies);
    font.setPointSizeF(8.0);
    return font;
}

QFont textBoxFont()
{
    QFont font;
    font.setFamilies(kTextBoxFamilies);
    font.setPointSizeF(9.75);
    font.setWeight(QFont::Normal);
    return font;
}

// The window is told while a record waits for the files, and where records sent behind the
// scenes are.
TutorServices withWaiting(TutorServices services, std::function<void(const QString&)> waiting,
                          std::function<void(const QString&)> recordsWhere)
{
    services.waiting = std::move(waiting);
    services.recordsWhere = std::move(recordsWhere);
    return services;
}

} // namespace

MainWindow::MainWindow(const WindowServices& services, QWidget* parent)
    : QWidget(parent), services_(services),
      controller_(withWaiting(
                      services.tutor, [this](const QString& text) { showWaiting(text); },
                      [this](const QString& text) { showWhereRecordsAre(text); }),
                  *this)
{
    // Whoever ends the session (the walk past its set, a Quit at start-up) ends the program.
    controller_.setOnEnd([this] {
        if (inAction_)
            endAfterAction_ = true;
        else
            endProgram();
    });
    // The window carries the name the designer gave it, which is also the pendulum button's:
    // a form and a control may share a name. Tests find the button as a child, never the window.
    setObjectName(QStringLiteral("cmd_pend_exp"));
    setWindowTitle(kTitle);
    setFont(dialogFont());
    buildControls();
    wireEvents();
    resize(twips(0, 0, 10875, 8595).size());
}

MainWindow::~MainWindow() = default;

void MainWindow::Form_Load()
{
    Picture1->setScale(1000, 1000);
    Picture2->setScale(1000, 1000);
    controller_.start();
}

QWidget* MainWindow::makeControl(const controltable::Row& row)
{
    using controltable::Kind;
    const QString caption = QLatin1String(row.caption);
    QWidget* made = nullptr;
    switch (row.kind) {
    case Kind::TextBox: {
        auto* t = new TextBox(this);
        t->setFont(textBoxFont());
        t->setText(caption);
        made = t;
        break;
    }
    case Kind::CommandButton:
        made = new CommandButton(caption, this);
        // Screen readers announce a button by its caption.
        made->setAccessibleName(caption);
        break;
    case Kind::PictureBox:
        made = new PictureBox(this);
        made->setFont(dialogFont());
        break;
    case Kind::ListBox:
        made = new QListWidget(this);
        // An empty list has no current item to mark, so its frame shows the focus.
        made->setStyleSheet(QStringLiteral("QListWidget:focus { border: 2px solid palette(highlight); }"));
        break;
    case Kind::Label:
        made = new QLabel(caption, this);
        break;
    case Kind::LineEdit:
        made = new QLineEdit(caption, this);
        break;
    }
    made->setObjectName(QLatin1String(row.name));
    made->setGeometry(twips(row.left, row.top, row.width, row.height));
    if (row.spoken)
        made->setAccessibleName(QLatin1String(row.spoken));
    return made;
}

template <typename T> T* MainWindow::control(const char* name) const
{
    return findChild<T*>(QLatin1String(name), Qt::FindDirectChildrenOnly);
}

void MainWindow::buildControls()
{
    // Made in the table's order, so that they stack as the layout lists them.
    QList<QWidget*> tabOrder;
    for (const controltable::Row& row : controltable::kRows) {
        QWidget* made = makeControl(row);
        if (row.kind != controltable::Kind::Label)
            tabOrder << made;
    }
    txt_question = control<TextBox>("txt_question");
    txt_answer = control<TextBox>("txt_answer");
    cmdNextQuestion = control<CommandButton>("cmdNextQuestion");
    cmd_enter_response = control<CommandButton>("cmd_enter_response");
    Picture1 = control<PictureBox>("Picture1");
    Picture2 = control<PictureBox>("Picture2");
    cmd_save_as_notes = control<CommandButton>("cmd_save_as_notes");
    cmd_timerTrigger = control<CommandButton>("cmd_timerTrigger");
    List1 = control<QListWidget>("List1");
    cmd_displayCumulativeText = control<CommandButton>("cmd_displayCumulativeText");
    cmd_display_note_file = control<CommandButton>("cmd_display_note_file");
    cmd_quit = control<CommandButton>("cmd_quit");
    cmd_pend_exp = control<CommandButton>("cmd_pend_exp");
    cmd_next_picture = control<CommandButton>("cmd_next_picture");
    lbl_only_if_prompted = control<QLabel>("lbl_only_if_prompted");
    lbl_only_if_prompted->setWordWrap(true);
    lbl_only_if_prompted->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    cmd_copy_picture = control<CommandButton>("cmd_copy_picture");
    cmd_clr_answer = control<CommandButton>("cmd_clr_answer");
    buildParameters();

    tmr_pend_exp = new QTimer(this);
    tmr_pend_exp->setObjectName(QStringLiteral("tmr_pend_exp"));
    tmr_pend_exp->setInterval(15);

    for (qsizetype i = 0; i + 1 < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i], tabOrder[i + 1]);
    setFocusProxy(txt_question);
}

// The two-by-two grid of parameter labels and boxes, which nothing reads.
void MainWindow::buildParameters()
{
    for (int i = 0; i < 4; ++i) {
        const QByteArray index = QByteArray::number(i);
        lbl_parameter[i] = control<QLabel>(("lbl_parameter(" + index + ")").constData());
        txt_parameter[i] = control<QLineEdit>(("txt_parameter(" + index + ")").constData());
        lbl_parameter[i]->setBuddy(txt_parameter[i]);
        // A caption a little wider than its designed label takes the free room before its box.
        const QRect label = lbl_parameter[i]->geometry();
        const int room = txt_parameter[i]->geometry().left() - label.left() - 2;
        const int wanted = lbl_parameter[i]->fontMetrics().horizontalAdvance(lbl_parameter[i]->text()) + 1;
        lbl_parameter[i]->resize(std::max(label.width(), std::min(wanted, room)), label.height());
    }
}

template <typename Sender, typename Signal>
void MainWindow::onEvent(Sender* sender, Signal signal, void (MainWindow::*handler)())
{
    connect(sender, signal, this, [this, handler] {
        if (!ended_)
            (this->*handler)();
    });
}

void MainWindow::wireEvents()
{
    onEvent(cmdNextQuestion, &QPushButton::clicked, &MainWindow::cmdNextQuestion_Click);
    onEvent(cmd_enter_response, &QPushButton::clicked, &MainWindow::cmd_enter_response_Click);
    onEvent(cmd_save_as_notes, &QPushButton::clicked, &MainWindow::cmd_save_as_notes_Click);
    onEvent(cmd_display_note_file, &QPushButton::clicked, &MainWindow::cmd_display_note_file_Click);
    onEvent(cmd_displayCumulativeText, &QPushButton::clicked, &MainWindow::cmd_displayCumulativeText_Click);
    onEvent(cmd_clr_answer, &QPushButton::clicked, &MainWindow::cmd_clr_answer_Click);
    onEvent(cmd_quit, &QPushButton::clicked, &MainWindow::cmd_quit_Click);
    onEvent(cmd_next_picture, &QPushButton::clicked, &MainWindow::cmd_next_picture_Click);
    onEvent(cmd_copy_picture, &QPushButton::clicked, &MainWindow::cmd_copy_picture_Click);
    onEvent(cmd_pend_exp, &QPushButton::clicked, &MainWindow::cmd_pend_exp_Click);
    onEvent(tmr_pend_exp, &QTimer::timeout, &MainWindow::tmr_pend_exp_Timer);
    // A graph drawn with a line is said by its title; its description is one key away.
    auto* toDiagram = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_G), this);
    connect(toDiagram, &QShortcut::activated, Picture1, [this] { Picture1->setFocus(Qt::ShortcutFocusReason); });
}

void MainWindow::endProgram()
{
    if (ended_)
        return;
    ended_ = true;
    controller_.end();
    tmr_pend_exp->stop();
    close();
    if (services_.leaveEventLoop)
        services_.leaveEventLoop();
}

void MainWindow::endProgramAfterSaying(const QString& said)
{
    endAfterAction_ = false;
    const bool listens = services_.screenReaderListens ? services_.screenReaderListens() : QAccessible::isActive();
    if (said.isEmpty() || !listens)
        return endProgram();
    // About the pace of a screen reader's default voice, with a pause before it starts.
    constexpr int kStartMs = 500;
    constexpr int kPerCharacterMs = 70;
    setEnabled(false);
    QTimer::singleShot(kStartMs + kPerCharacterMs * int(Announcer::spoken(said).size()), this, &MainWindow::endProgram);
}

void MainWindow::showWaiting(const QString& text)
{
    // The record waits inside a click: the title says who holds the files and the window is
    // repainted, but no click or key is taken until the record is done.
    setWindowTitle(text.isEmpty() ? kTitle : kTitle + QStringLiteral(" — ") + text);
    if (text.isEmpty())
        unsetCursor();
    else
        setCursor(Qt::WaitCursor);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void MainWindow::showWhereRecordsAre(const QString& text)
{
    // The title is the window's status line; the announcer says it beside the answer box.
    setWindowTitle(kTitle + QStringLiteral(" — ") + text);
    Announcer::say(txt_answer, text);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Closing the window ends the program like "quit program", once nothing typed or
    // half-recorded would be lost; never while a question or message is still open.
    if (!ended_ && !controller_.hasEnded()) {
        bool goOn = false;
        if (!controller_.isBusy() && !QApplication::activeModalWidget())
            withBoxes([&](TextBoxes& b) { goOn = controller_.settleAnswerBox(b); });
        if (!goOn) {
            event->ignore();
            return;
        }
    }
    endProgram();
    event->accept();
}

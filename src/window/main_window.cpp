#include "main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>

#include "widgets/announcer.h"
#include "widgets/command_button.h"
#include "widgets/picture_box.h"
#include "widgets/text_box.h"
#include "window/window_scale.h"

namespace {

const QString kTitle = QStringLiteral("Form1");

// The designed layout is in twips; 15 twips make a pixel at 96 dots per inch.
QRect twips(int left, int top, int width, int height)
{
    return windowScale::fromTwips(left, top, width, height, windowScale::factor());
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

// Each control carries its given name and stands where the layout puts it.
void placeControl(QWidget* w, const char* name, QRect at)
{
    w->setObjectName(QLatin1String(name));
    w->setGeometry(at);
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
    controller_.setOnEnd([this] { endProgram(); });
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

void MainWindow::buildControls()
{
    // Screen readers announce a control by its caption, or by its name where it has none.
    auto button = [&](const char* name, const char* caption, QRect at) {
        auto* b = new CommandButton(QLatin1String(caption), this);
        placeControl(b, name, at);
        b->setAccessibleName(b->text());
        return b;
    };
    auto textBox = [&](const char* name, const char* spoken, const QString& text, QRect at) {
        auto* t = new TextBox(this);
        t->setFont(textBoxFont());
        t->setText(text);
        placeControl(t, name, at);
        t->setAccessibleName(QLatin1String(spoken));
        return t;
    };

    txt_question = textBox("txt_question", "question box", QString(), twips(240, 720, 5175, 3255));
    txt_answer = textBox("txt_answer", "answer box", QStringLiteral(" "), twips(5640, 720, 5055, 3255));
    cmdNextQuestion = button("cmdNextQuestion", "Next Question / Answer", twips(240, 0, 975, 735));
    cmd_enter_response = button("cmd_enter_response", "Enter Response", twips(5640, 240, 855, 495));
    Picture1 = new PictureBox(this);
    placeControl(Picture1, "Picture1", twips(240, 4080, 5175, 3375));
    Picture2 = new PictureBox(this);
    placeControl(Picture2, "Picture2", twips(5640, 4080, 5055, 3375));
    Picture1->setAccessibleName(QStringLiteral("diagram"));
    Picture2->setAccessibleName(QStringLiteral("copy of the diagram"));
    cmd_save_as_notes = button("cmd_save_as_notes", "Save as Notes", twips(6480, 240, 855, 495));
    cmd_timerTrigger = button("cmd_timerTrigger", "Trigger Timer", twips(2400, 7560, 735, 495));
    List1 = new QListWidget(this);
    placeControl(List1, "List1", twips(3120, 7680, 1695, 840));
    List1->setAccessibleName(QStringLiteral("empty list"));
    // An empty list has no current item to mark, so its frame shows the focus.
    List1->setStyleSheet(QStringLiteral("QListWidget:focus { border: 2px solid palette(highlight); }"));

    // Created here, so that they stack among the controls as the layout lists them.
    buildParameters();
    cmd_displayCumulativeText = button("cmd_displayCumulativeText", "display everything", twips(3600, 240, 855, 495));
    cmd_display_note_file = button("cmd_display_note_file", "display notes", twips(4440, 240, 975, 495));
    cmd_quit = button("cmd_quit", "quit program", twips(10200, 0, 735, 495));
    cmd_pend_exp = button("cmd_pend_exp", "pend exp", twips(8640, 7560, 495, 375));
    cmd_next_picture = button("cmd_next_picture", "next picture", twips(1200, 7560, 855, 495));
    lbl_only_if_prompted = new QLabel(QStringLiteral("click only if prompted"), this);
    lbl_only_if_prompted->setWordWrap(true);
    lbl_only_if_prompted->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    placeControl(lbl_only_if_prompted, "lbl_only_if_prompted", twips(240, 7560, 855, 495));
    cmd_copy_picture = button("cmd_copy_picture", "copy picture", twips(1200, 8160, 855, 495));
    cmd_clr_answer = button("cmd_clr_answer", "clear answer", twips(8880, 240, 735, 495));

    tmr_pend_exp = new QTimer(this);
    tmr_pend_exp->setObjectName(QStringLiteral("tmr_pend_exp"));
    tmr_pend_exp->setInterval(15);

    Picture1->setFont(dialogFont());
    Picture2->setFont(dialogFont());

    setTabOrderAsDesigned();
}

// The two-by-two grid of parameter labels and boxes, which nothing reads.
void MainWindow::buildParameters()
{
    struct Parameter {
        const char* caption;
        QRect label;
        QRect box;
    };
    const std::array<Parameter, 4> parameters{{
        {"Parameter 1", twips(5640, 7680, 900, 195), twips(6720, 7680, 300, 285)},
        {"Parameter 2", twips(5640, 8160, 855, 195), twips(6720, 8160, 300, 285)},
        {"Parameter 3", twips(7200, 7680, 1005, 195), twips(8205, 7680, 300, 285)},
        {"Parameter 4", twips(7200, 8160, 900, 195), twips(8205, 8160, 300, 285)},
    }};
    for (int i = 0; i < 4; ++i) {
        const QByteArray index = QByteArray::number(i);
        lbl_parameter[i] = new QLabel(QLatin1String(parameters[i].caption), this);
        placeControl(lbl_parameter[i], ("lbl_parameter(" + index + ")").constData(), parameters[i].label);
        txt_parameter[i] = new QLineEdit(QStringLiteral("1"), this);
        placeControl(txt_parameter[i], ("txt_parameter(" + index + ")").constData(), parameters[i].box);
        lbl_parameter[i]->setBuddy(txt_parameter[i]);
        txt_parameter[i]->setAccessibleName(lbl_parameter[i]->text());
        // A caption a little wider than its designed label takes the free room before its box.
        const int room = parameters[i].box.left() - parameters[i].label.left() - 2;
        const int wanted = lbl_parameter[i]->fontMetrics().horizontalAdvance(lbl_parameter[i]->text()) + 1;
        lbl_parameter[i]->resize(std::max(parameters[i].label.width(), std::min(wanted, room)),
                                 parameters[i].label.height());
    }
}

void MainWindow::setTabOrderAsDesigned()
{
    const QList<QWidget*> tabOrder{txt_question,
                                   txt_answer,
                                   cmdNextQuestion,
                                   cmd_enter_response,
                                   Picture1,
                                   Picture2,
                                   cmd_save_as_notes,
                                   cmd_timerTrigger,
                                   List1,
                                   txt_parameter[0],
                                   txt_parameter[1],
                                   txt_parameter[2],
                                   txt_parameter[3],
                                   cmd_displayCumulativeText,
                                   cmd_display_note_file,
                                   cmd_quit,
                                   cmd_pend_exp,
                                   cmd_next_picture,
                                   cmd_copy_picture,
                                   cmd_clr_answer};
    for (qsizetype i = 0; i + 1 < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i], tabOrder[i + 1]);
    setFocusProxy(txt_question);
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
}

void MainWindow::endProgram()
{
    if (ended_)
        return;
    ended_ = true;
    controller_.end();
    controller_.records().closeChannels();
    tmr_pend_exp->stop();
    close();
    if (services_.leaveEventLoop)
        services_.leaveEventLoop();
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
    if (!ended_) {
        bool goOn = false;
        if (!controller_.records().isAsking() && !QApplication::activeModalWidget())
            withBoxes([&](TextBoxes& b) { goOn = controller_.settleAnswerBox(b); });
        if (!goOn) {
            event->ignore();
            return;
        }
    }
    endProgram();
    event->accept();
}

#include "support/tutor_fixture.h"

WindowServices Tutor::services()
{
    WindowServices s;
    s.tutor = tutorServices();
    s.sound = soundInUse;
    s.leaveEventLoop = [this] { ++ends; };
    s.screenReaderListens = [this] { return screenReader; };
    return s;
}

MainWindow& Tutor::create()
{
    window = std::make_unique<MainWindow>(services());
    return *window;
}

MainWindow& Tutor::start(const QList<std::optional<QString>>& answers)
{
    prompter.answers = answers;
    create();
    window->Form_Load();
    return *window;
}

bool Tutor::next()
{
    QTest::mouseClick(ui(*window).cmdNextQuestion, Qt::LeftButton);
    return !window->hasEnded();
}

void Tutor::enterResponse(const QString& text)
{
    ui(*window).txt_answer->setText(text);
    QTest::mouseClick(ui(*window).cmd_enter_response, Qt::LeftButton);
}

void Tutor::saveAsNotes(const QString& text)
{
    ui(*window).txt_answer->setText(text);
    QTest::mouseClick(ui(*window).cmd_save_as_notes, Qt::LeftButton);
}

namespace {

// A control of the window's table (or its timer), found by name.
template <typename T> T* named(const MainWindow& w, const QString& name)
{
    Q_ASSERT(name == QLatin1String("tmr_pend_exp") || controltable::find(QLatin1String(name.toLatin1())));
    T* found = w.findChild<T*>(name);
    Q_ASSERT(found);
    return found;
}

} // namespace

Controls::Controls(const MainWindow& w)
    : txt_question(named<TextBox>(w, QStringLiteral("txt_question"))),
      txt_answer(named<TextBox>(w, QStringLiteral("txt_answer"))),
      cmdNextQuestion(named<CommandButton>(w, QStringLiteral("cmdNextQuestion"))),
      cmd_enter_response(named<CommandButton>(w, QStringLiteral("cmd_enter_response"))),
      Picture1(named<PictureBox>(w, QStringLiteral("Picture1"))),
      Picture2(named<PictureBox>(w, QStringLiteral("Picture2"))),
      cmd_save_as_notes(named<CommandButton>(w, QStringLiteral("cmd_save_as_notes"))),
      cmd_timerTrigger(named<CommandButton>(w, QStringLiteral("cmd_timerTrigger"))),
      List1(named<QListWidget>(w, QStringLiteral("List1"))),
      cmd_displayCumulativeText(named<CommandButton>(w, QStringLiteral("cmd_displayCumulativeText"))),
      cmd_display_note_file(named<CommandButton>(w, QStringLiteral("cmd_display_note_file"))),
      cmd_quit(named<CommandButton>(w, QStringLiteral("cmd_quit"))),
      cmd_pend_exp(named<CommandButton>(w, QStringLiteral("cmd_pend_exp"))),
      cmd_next_picture(named<CommandButton>(w, QStringLiteral("cmd_next_picture"))),
      lbl_only_if_prompted(named<QLabel>(w, QStringLiteral("lbl_only_if_prompted"))),
      cmd_copy_picture(named<CommandButton>(w, QStringLiteral("cmd_copy_picture"))),
      cmd_clr_answer(named<CommandButton>(w, QStringLiteral("cmd_clr_answer"))),
      tmr_pend_exp(named<QTimer>(w, QStringLiteral("tmr_pend_exp"))), lbl_parameter{}, txt_parameter{}
{
    for (int i = 0; i < 4; ++i) {
        lbl_parameter[size_t(i)] = named<QLabel>(w, QStringLiteral("lbl_parameter(%1)").arg(i));
        txt_parameter[size_t(i)] = named<QLineEdit>(w, QStringLiteral("txt_parameter(%1)").arg(i));
    }
}

#pragma once

#include <QString>
#include <QWidget>

#include <array>
#include <functional>

#include "tutor/tutor_controller.h"
#include "window/control_table.h"

class CommandButton;
class PictureBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QTimer;
class Sound;
class TextBox;

// What the window needs beyond the tutor's Core services; tests hand in stand-ins.
struct WindowServices {
    TutorServices tutor;
    Sound* sound = nullptr;
    // Leaves the event loop at the end of the program; tests record it instead.
    std::function<void()> leaveEventLoop;
    // Whether a screen reader listens; none: ask the accessibility bridge.
    std::function<bool()> screenReaderListens;
};

// The tutor's one window: the controls, their geometry, and thin handlers that pass each
// event to the session or the record book and show what comes back. Declarations are
// grouped under the file that defines them.
class MainWindow : public QWidget, private PictureRoutines {
    Q_OBJECT

    // ---- window/main_window.cpp: controls, geometry, event wiring, the end of the program
public:
    explicit MainWindow(const WindowServices& services, QWidget* parent = nullptr);
    ~MainWindow() override;
    // Start-up before the window is first shown: the questions, the chosen set, the
    // records a killed run left, the session header.
    void Form_Load();
    bool hasEnded() const { return ended_; }
    // The walk the window shows.
    const Session& session() const { return controller_.session(); }

private:
    void buildControls();
    QWidget* makeControl(const controltable::Row& row);
    template <typename T> T* control(const char* name) const;
    void buildParameters();
    void wireEvents();
    // Connects a control's event to its handler; no handler runs once the program has ended.
    template <typename Sender, typename Signal>
    void onEvent(Sender* sender, Signal signal, void (MainWindow::*handler)());
    void closeEvent(QCloseEvent* event) override;
    // While a record waits for files another program holds, and once more when it is done.
    void showWaiting(const QString& text);
    // Where the records sent behind the scenes are, shown and said as it changes.
    void showWhereRecordsAre(const QString& text);
    // The one way the program ends: close every channel, stop the timer, close the
    // window, leave the event loop. After it no handler shows or writes anything.
    void endProgram();
    // The end that a click led to, once a screen reader has had the time to say what the click
    // said; at once where no screen reader listens. No input is taken meanwhile.
    void endProgramAfterSaying(const QString& said);

    // ---- window/handlers.cpp: each event passed to the controller, and what comes back shown
public:
    // One step of the walk; the answer box shows the reminder where the line before got no
    // response.
    void readNextQuestion();
    // The text without its blanks and hyphens.
    QString remSpaces(const QString& text) const;
    // Draws the routine of that name into Picture1, or ends the program when there is none.
    void runRoutine(const QString& routine);
    void graph1();
    void graph2();
    void graph3();
    void venn1();
    void venn2();
    void venn3();

private:
    void cmdNextQuestion_Click();
    void cmd_enter_response_Click();
    void cmd_save_as_notes_Click();
    void cmd_display_note_file_Click();
    void cmd_displayCumulativeText_Click();
    void cmd_clr_answer_Click();
    void cmd_quit_Click();
    void cmd_next_picture_Click();
    void cmd_copy_picture_Click();
    void cmd_pend_exp_Click();
    void tmr_pend_exp_Timer();
    // Runs one action of the controller on the boxes' texts and shows what it changed.
    // Hands the boxes' texts to the controller's action and shows what comes back; what it says
    // is announced beside `sayer` (the question box when none is given).
    void withBoxes(const std::function<void(TextBoxes&)>& action, QWidget* sayer = nullptr);
    bool drawRoutine(const QString& name) override;
    QStringList routineNames() const override;
    QString routineTitle(const QString& name) const override;

    // ---- The walk, the records, and what the procedures share
private:
    WindowServices services_;
    TutorController controller_;
    bool ended_ = false;
    bool inAction_ = false;       // a click's action is running
    bool endAfterAction_ = false; // and has ended the session

    // ---- Controls, in tab order; tests find them by name
private:
    TextBox* txt_question = nullptr;
    TextBox* txt_answer = nullptr;
    CommandButton* cmdNextQuestion = nullptr;
    CommandButton* cmd_enter_response = nullptr;
    PictureBox* Picture1 = nullptr;
    PictureBox* Picture2 = nullptr;
    CommandButton* cmd_save_as_notes = nullptr;
    CommandButton* cmd_timerTrigger = nullptr;
    QListWidget* List1 = nullptr;
    std::array<QLabel*, 4> lbl_parameter{};
    std::array<QLineEdit*, 4> txt_parameter{};
    CommandButton* cmd_displayCumulativeText = nullptr;
    CommandButton* cmd_display_note_file = nullptr;
    CommandButton* cmd_quit = nullptr;
    CommandButton* cmd_pend_exp = nullptr;
    CommandButton* cmd_next_picture = nullptr;
    QLabel* lbl_only_if_prompted = nullptr;
    CommandButton* cmd_copy_picture = nullptr;
    CommandButton* cmd_clr_answer = nullptr;
    QTimer* tmr_pend_exp = nullptr;
};

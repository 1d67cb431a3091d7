#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>

#include "records/record_book.h"
#include "session/session.h"
#include "storage/record_journal.h"

class Clock;
class CommandButton;
class PictureBox;
class Prompter;
class QLabel;
class QLineEdit;
class QListWidget;
class QTimer;
class Sound;
class TextBox;

// What the window needs from its surroundings; tests hand in stand-ins.
struct TutorServices {
    Prompter* prompter = nullptr;
    Clock* clock = nullptr;
    Sound* sound = nullptr;
    QString drivesRoot;
    // The class-notes content: a JSON array of lines (the compiled-in one by default).
    QString contentPath = QStringLiteral(":/content/class_notes.json");
    // A fixed seed instead of the clock's seconds since midnight.
    std::optional<double> seed;
    // Where records are kept until every record file holds them: local, never the shared folder.
    QString journalFolder = journal::defaultFolder();
    // Leaves the event loop at the end of the program; tests record it instead.
    std::function<void()> leaveEventLoop;
};

// The tutor's one window: the controls, their geometry, and thin handlers that pass each
// event to the session or the record book and show what comes back. Declarations are
// grouped under the file that defines them.
class MainWindow : public QWidget {
    Q_OBJECT

    // ---- window/main_window.cpp: controls, geometry, event wiring, the end of the program
public:
    explicit MainWindow(const TutorServices& services, QWidget* parent = nullptr);
    ~MainWindow() override;
    // Start-up before the window is first shown: the questions, the chosen set, the
    // records a killed run left, the session header.
    void Form_Load();
    bool hasEnded() const { return ended_; }
    // The walk the window shows; tests read it and set up lines of their own.
    const Session& session() const { return session_; }
    Session& session() { return session_; }

private:
    void buildControls();
    void wireEvents();
    // Connects a control's event to its handler; no handler runs once the program has ended.
    template <typename Sender, typename Signal>
    void onEvent(Sender* sender, Signal signal, void (MainWindow::*handler)());
    void closeEvent(QCloseEvent* event) override;
    // While a record waits for files another program holds, and once more when it is done.
    void showWaiting(const QString& text);
    // The one way the program ends: close every channel, stop the timer, close the
    // window, leave the event loop. After it no handler shows or writes anything.
    void endProgram();

    // ---- window/handlers.cpp: the buttons of the walk and the records
private:
    void cmdNextQuestion_Click();
    void cmd_enter_response_Click();
    void cmd_save_as_notes_Click();
    void cmd_display_note_file_Click();
    void cmd_displayCumulativeText_Click();
    void cmd_clr_answer_Click();
    void cmd_quit_Click();
    // One step of the walk; the answer box shows the reminder where the line before got
    // no response.
    void readNextQuestion();
    // Before the walk goes on or the program ends; false when the student chose to stay.
    bool settleAnswerBox();
    void showBoxes(Boxes boxes);

    // ---- diagrams/dispatch.cpp: picture lines and their routines
public:
    QString remSpaces(const QString& text) const;
    void runRoutine(const QString& routine);

private:
    // The routine a picture line names: from its tenth character on, without blanks and
    // hyphens, in lower case.
    QString routineNameOf(const QString& pictureLine) const;
    void cmd_next_picture_Click();

    // ---- diagrams/graphs.cpp
public:
    void graph1();
    void graph2();
    void graph3();

private:
    struct Label {
        double x;
        double y;
        const char* text;
    };
    void printAt(double x, double y, const QString& text);
    // printAt for each label, in the order given.
    void printLabels(std::initializer_list<Label> labels);

    // ---- diagrams/venn.cpp
public:
    void venn1();
    void venn2();
    void venn3();

private:
    QColor randomColour();
    void drawVennCircles();

    // ---- diagrams/picture_commands.cpp
private:
    void cmd_copy_picture_Click();

    // ---- experiment/pendulum.cpp
private:
    void cmd_pend_exp_Click();
    void tmr_pend_exp_Timer();

    // ---- The walk, the records, and what the procedures share
private:
    TutorServices services_;
    Session session_;
    RecordBook records_;
    bool ended_ = false;

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

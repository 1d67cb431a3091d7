#pragma once

#include <QTest>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>

#include <array>
#include <memory>

#include "support/tutor_setup.h"
#include "widgets/command_button.h"
#include "widgets/picture_box.h"
#include "widgets/text_box.h"
#include "window/main_window.h"

// The whole tutor in its window, set up as every scripted tutor is: the one set-up that
// the window's tests, the benchmarks and the picture tools share.
struct Tutor : TutorSetup {
    std::unique_ptr<MainWindow> window;
    bool screenReader = false;

    explicit Tutor(bool makeHomeFolder = true) : TutorSetup(makeHomeFolder) {}

    WindowServices services();
    MainWindow& create();
    // Runs start-up with the given answers to the prompts.
    MainWindow& start(const QList<std::optional<QString>>& answers);
    MainWindow& startHome(const QString& classNotes) { return start(homeAnswers(classNotes)); }

    template <typename T> T* control(const char* name) const { return window->findChild<T*>(QLatin1String(name)); }

    // The buttons as a student clicks them, with the text typed into the answer box first;
    // next() is true while the window stays open.
    bool next();
    void enterResponse(const QString& text);
    void saveAsNotes(const QString& text);
    const Session& session() const { return window->session(); }
};

// The window's controls, found by their names as an accessibility tool finds them.
struct Controls {
    explicit Controls(const MainWindow& w);
    TextBox* txt_question;
    TextBox* txt_answer;
    CommandButton* cmdNextQuestion;
    CommandButton* cmd_enter_response;
    PictureBox* Picture1;
    PictureBox* Picture2;
    CommandButton* cmd_save_as_notes;
    CommandButton* cmd_timerTrigger;
    QListWidget* List1;
    CommandButton* cmd_displayCumulativeText;
    CommandButton* cmd_display_note_file;
    CommandButton* cmd_quit;
    CommandButton* cmd_pend_exp;
    CommandButton* cmd_next_picture;
    QLabel* lbl_only_if_prompted;
    CommandButton* cmd_copy_picture;
    CommandButton* cmd_clr_answer;
    QTimer* tmr_pend_exp;
    std::array<QLabel*, 4> lbl_parameter;
    std::array<QLineEdit*, 4> txt_parameter;
};
inline Controls ui(const MainWindow& w)
{
    return Controls(w);
}
inline Controls ui(const std::unique_ptr<MainWindow>& w)
{
    return Controls(*w);
}

#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "platform/drive_paths.h"
#include "platform/failure.h"
#include "platform/random_source.h"
#include "platform/transcript.h"
#include "storage/record_files.h"
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

// What a record is; each kind has its own layout and its own set of files.
enum class RecordKind { SessionHeader, Response, Note };

// The tutor's one window. Every procedure of the program is a member, declared below under
// the file that defines it; the session state and the controls come last.
class MainWindow : public QWidget {
    Q_OBJECT

    // ---- window/main_window.cpp: controls, geometry, event wiring, the end of the program
public:
    explicit MainWindow(const TutorServices& services, QWidget* parent = nullptr);
    ~MainWindow() override;
    bool hasEnded() const { return ended_; }

private:
    void buildControls();
    void wireEvents();
    // Connects a control's event to its handler; no handler runs once the program has ended.
    template <typename Sender, typename Signal>
    void onEvent(Sender* sender, Signal signal, void (MainWindow::*handler)());
    void cmd_quit_Click();
    void closeEvent(QCloseEvent* event) override;
    // The one way the program ends: close every channel, stop the timer, close the
    // window, leave the event loop. After it no handler shows or writes anything.
    void endProgram();

    // ---- session/startup.cpp: the load event and the three start-up questions
public:
    static const QString kClassNotesPrompt;
    // Start-up before the window is first shown.
    void Form_Load();

private:
    void setupSession();
    void setClassNotesNumbers(const QString& entry);

    // ---- session/positioning.cpp: the chosen set and the session header
private:
    void startClassNotes();
    bool positionAtClassNotes();
    void writeSessionHeader();

    // ---- session/stepping.cpp: the walk from line to line
public:
    void readNextQuestion();

private:
    void cmdNextQuestion_Click();

    // ---- content/line_table.cpp: the line table and its loader
public:
    static constexpr int kLastSlot = 5000;

private:
    void loadClassNotes();

    // ---- records/coding.cpp: line coding
public:
    QString code(const QString& a, double codeNbr) const;
    // The text as coded back, or nothing when a character's computed code falls outside 0..255.
    std::optional<QString> decode(const QString& a, double codeNbr) const;
    QString makeCodeLine(double codeNbr);

    // ---- records/query_files.cpp
public:
    // No channel is left open either way.
    std::optional<Failure> codeFile();

    // ---- records/responses.cpp: Enter Response and Save as Notes
private:
    void cmd_enter_response_Click();
    void cmd_save_as_notes_Click();
    // What either button does with the answer box: record it (unless it holds the reminder),
    // add it to the transcript, empty both boxes. Nothing changes when it was not recorded.
    std::optional<Failure> recordAnswerBox(RecordKind kind);
    // Records the text as a record of its kind in every one of its files.
    std::optional<Failure> recordAnswer(RecordKind kind, const QString& answer);

    // ---- records/unfinished.cpp: nothing typed or half-recorded is dropped without a word
private:
    // Before the walk goes on or the program ends: finishes an unfinished record and asks
    // about text that was typed but not recorded. False when the student chose to stay.
    bool settleAnswerBox();
    // Finishes a record that some of its files took and others did not, unless the student's
    // next click finishes it anyway; asks whether to go on without it where that fails.
    // False when the student chose to stay.
    bool settleUnfinishedRecord(std::optional<RecordKind> nextRecord);
    bool isUnfinished() const;
    // True while a question to the student about the answer box is open.
    bool settling_ = false;

    // ---- records/record_writing.cpp: composing a record and appending it to its files
private:
    // A record and the files still missing it. One that some files did not take stays
    // pending; the next click with the same text completes it instead of writing it twice.
    struct PendingRecord {
        RecordKind kind = RecordKind::Response;
        QString answer;
        QString line;
        QList<FileAppend> files; // still missing the record
        QStringList recordedIn;  // names of the files that took it
        QString journalEntry{};  // kept while some files hold the record and others do not
    };
    // Each file's bytes of a record of this kind, composed in full before any is written.
    QList<FileAppend> composeRecord(RecordKind kind, const QString& answer);
    // Appends to every file still missing the record, dropping those that took it.
    std::optional<Failure> appendToRecordFiles(PendingRecord& record);
    // Before the session header: records a killed run left unfinished, told once.
    void finishLeftOverRecords();
    // Why the text, or the line shown, cannot go into the files: characters the code page
    // cannot hold. Empty when it can.
    std::optional<Failure> unwritable(const QString& text) const;
    std::optional<PendingRecord> pendingRecord_;

    // ---- records/display.cpp: display notes, display everything, clear answer
private:
    void cmd_display_note_file_Click();
    void cmd_displayCumulativeText_Click();
    void cmd_clr_answer_Click();

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

    // ---- Session state: plain fields, read and written by the procedures
public:
    QString courseTitle;
    int sessionCodeNbr = 0;
    QString dataFolder;
    QString masterFile;
    QString sendFile;
    QString notesFile;
    QString classNotesNo;
    QString nextClassNotesNo;
    QString answerPrompt;
    QString qaSeparator;
    QString answerSeparator;
    std::vector<QString> classNotesLines = std::vector<QString>(kLastSlot + 1);
    int lineIndex = 0;
    QString currentLine;
    QString displayText;
    QString questionNo;
    bool responsePending = false;
    Transcript cumulativeText;
    QString currentText;
    // Part of the query files' names; nothing in the program sets it, so they are always
    // query.txt and queri.txt. Kept as a field so that a caller of codeFile can.
    QString queryFileSuffix;

private:
    QString classNotesEntry_; // as the student typed it, for messages

    // ---- Controls, in tab order
public:
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

    // ---- What the procedures share besides the session state
private:
    TutorServices services_;
    DrivePaths drives_;
    RandomSource random_;
    Channels channels_;
    bool ended_ = false;
};

#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "platform/drive_paths.h"
#include "platform/random_source.h"
#include "platform/record_files.h"
#include "platform/record_journal.h"

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

// The tutor's one window. Every procedure of the program is a member; each is defined
// in the folder of its subsystem (session/, content/, records/, diagrams/, experiment/).
class MainWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kLastSlot = 5000;
    static const QString kClassNotesPrompt;

    explicit MainWindow(const TutorServices& services, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The load event: start-up before the window is first shown.
    void Form_Load();
    bool hasEnded() const { return ended_; }

    // Public procedures.
    void readNextQuestion();
    QString code(const QString& a, double codeNbr) const;
    // Empty on success, otherwise what went wrong; no channel is left open either way.
    std::optional<QString> codeFile();
    // Empty when a character's computed code falls outside 0..255.
    std::optional<QString> decode(const QString& a, double codeNbr) const;
    QString remSpaces(const QString& text) const;
    QString makeCodeLine(double codeNbr);
    void runRoutine(const QString& routine);
    void venn1();
    void venn2();
    void venn3();
    void graph1();
    void graph2();
    void graph3();

    // Session state: plain fields, read and written by the procedures.
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
    QString cumulativeText;
    QString currentText;
    QString queryFileSuffix;

    // Controls, in tab order.
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

private:
    // Start-up (session/).
    void setupSession();
    void startClassNotes();
    // Content (content/).
    void loadClassNotes();
    // Diagrams (diagrams/).
    void printAt(double x, double y, const QString& text);
    struct Label {
        double x;
        double y;
        const char* text;
    };
    // printAt for each label, in the order given.
    void printLabels(std::initializer_list<Label> labels);
    QColor randomColour();
    void drawVennCircles();
    // The routine a picture line names: from its tenth character on, without blanks and
    // hyphens, in lower case.
    QString routineNameOf(const QString& pictureLine) const;

    // Event handlers.
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

    // Window (window/).
    void buildControls();
    void wireEvents();
    void closeEvent(QCloseEvent* event) override;

    // Start-up helpers (session/).
    void setClassNotesNumbers(const QString& entry);
    QString classNotesEntry_;  // as the student typed it, for messages
    bool positionAtClassNotes();
    void writeSessionHeader();

    // Records (records/).
    // A record waiting for files that did not take it yet; the next click with the same
    // text completes it instead of writing it twice.
    struct PendingRecord {
        QString kind;
        QString answer;
        QString line;
        QList<FileAppend> files;
        QString lastMessage;
    };
    // Appends to every file still missing the record; false (and a message kept in the
    // record) when a file did not take it.
    bool appendToRecordFiles(PendingRecord& record, const QString& what);
    // Before the session header: records a killed run left unfinished, told once.
    void finishLeftOverRecords();
    FileAppend recordFor(const QString& programPath, const QString& text) const;
    // Tells the student and gives true when the text, or the line shown, holds characters
    // the files cannot hold.
    bool refuseUnwritable(const QString& text);
    QString localPath(const QString& programPath) const;
    std::optional<PendingRecord> pendingRecord_;
    bool recordText(const QString& kind, const QString& answer,
                    const std::function<QList<FileAppend>()>& compose);

    // The one way the program ends: close every channel, stop the timer, close the
    // window, leave the event loop. After it no handler shows or writes anything.
    void endProgram();

    TutorServices services_;
    DrivePaths drives_;
    RandomSource random_;
    Channels channels_;
    bool ended_ = false;
};

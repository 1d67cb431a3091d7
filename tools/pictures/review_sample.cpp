// Record files written by the tutor's real window, offscreen, for the picture of the
// instructor's report in the README: two sessions of one day with answers, notes, an empty
// answer and an answer left behind the reminder.
//   review_sample OUTPUT_FOLDER   (writes masterFile.txt, send_1208.txt and notes_.txt there)

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include "records/record_layout.h"
#include "support/tutor_fixture.h"
#include "widgets/command_button.h"
#include "widgets/text_box.h"
#include "window/main_window.h"

namespace {

struct Step {
    enum Action { Next, Response, Note };
    Action action = Next;
    int seconds = 0; // the student's time before it
    QString text;
};

bool runSession(const QString& drives, const QString& classNotes, QTime start, const QList<Step>& steps)
{
    Tutor tutor(false);
    tutor.drivesRoot = drives;
    tutor.seed = 7.0;
    tutor.clock.set(QDateTime(QDate(2026, 12, 8), start));
    MainWindow& window = tutor.start({QStringLiteral("1"), QStringLiteral("Ann Example"), classNotes});
    if (window.hasEnded())
        return false;
    SettableClock& clock = tutor.clock;
    ScriptedPrompter& prompter = tutor.prompter;
    QDateTime at = clock.now();
    for (const Step& step : steps) {
        at = at.addSecs(step.seconds);
        clock.set(at);
        if (step.action == Step::Next) {
            QTest::mouseClick(ui(window).cmdNextQuestion, Qt::LeftButton);
            continue;
        }
        ui(window).txt_answer->setText(step.text);
        QTest::mouseClick(step.action == Step::Note ? ui(window).cmd_save_as_notes : ui(window).cmd_enter_response,
                          Qt::LeftButton);
    }
    return prompter.messages.isEmpty();
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: review_sample OUTPUT_FOLDER\n", stderr);
        return 2;
    }
    QTemporaryDir drives;
    QDir(drives.path()).mkpath(testfiles::kHomeFolder);
    using S = Step;
    const bool written =
        runSession(drives.path(), QStringLiteral("2"), QTime(10, 15, 30),
                   {S{S::Next, 0, {}},
                    S{S::Response, 95,
                      QStringLiteral("v = 12 m / 4 s = 3 m/s, the change in position over the "
                                     "change in clock time.")},
                    S{S::Next, 4, {}},
                    S{S::Response, 41, QStringLiteral("Right, but I wrote \"3 m\" at first: <units> & signs matter.")},
                    S{S::Next, 3, {}},
                    S{S::Note, 62, QStringLiteral("Average rate = change in quantity / change in clock time.")},
                    S{S::Next, 5, {}}, S{S::Response, 8, QString()}, S{S::Next, 2, {}},
                    S{S::Response, 130, records::kAnswerPrompt + QStringLiteral("\r\nThe slope is 2 m/s.")}}) &&
        runSession(drives.path(), QStringLiteral("4"), QTime(14, 2, 10),
                   {S{S::Next, 0, {}},
                    S{S::Response, 75, QStringLiteral("The area under the graph: 4 s × 3 m/s = 12 m.")},
                    S{S::Next, 6, {}}, S{S::Note, 20, QStringLiteral("Ask about the units of the area.")}});
    if (!written) {
        std::fputs("review_sample: the tutor did not record the session\n", stderr);
        return 1;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    out.mkpath(QStringLiteral("."));
    for (const char* name : {"masterFile.txt", "send_1208.txt", "notes_.txt"}) {
        const QString from = testfiles::homePath(drives.path(), QLatin1String(name));
        QFile::remove(out.filePath(QLatin1String(name)));
        if (!QFile::copy(from, out.filePath(QLatin1String(name))))
            return 1;
    }
    return 0;
}

// Child of bench_startup: the least a Qt program can do to show a window of the tutor's
// size, timed the same way as startup_tutor. With --text the window shows one label, the
// least a window with any text in it costs (the font database is read). With --widgets it
// holds the same kinds and numbers of controls as the tutor, where the tutor has them:
// two text edits, eleven buttons, five labels, a list, four line edits and two plain
// widgets, with text in them. With --designed as well, those controls look as the tutor's
// do: its two fonts at their sizes, scroll bars always on, captions on several lines.
//   startup_bare [--text | --widgets [--designed]]

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <cstdio>

#include "startup_probe.h"

namespace {

QFont designedFont(double points)
{
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    font.setPointSizeF(points);
    return font;
}

void addControls(QWidget& window, bool designed)
{
    if (designed)
        window.setFont(designedFont(8.0));
    for (const QRect at : {QRect(16, 48, 345, 217), QRect(376, 48, 337, 217)}) {
        auto* edit = new QPlainTextEdit(QStringLiteral(" "), &window);
        edit->setGeometry(at);
        if (designed) {
            edit->setFont(designedFont(9.75));
            edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        }
    }
    const char* captions[] = {"Next Question / Answer", "Enter Response", "Save as Notes", "Trigger Timer",
                              "display everything",     "display notes",  "quit program",  "pend exp",
                              "next picture",           "copy picture",   "clear answer"};
    int x = 16;
    for (const char* caption : captions) {
        QString text = QLatin1String(caption);
        if (designed)
            text.replace(u' ', u'\n');
        auto* button = new QPushButton(text, &window);
        button->setGeometry(x, 8, 57, 33);
        x += 63;
    }
    for (const QRect at : {QRect(16, 272, 345, 225), QRect(376, 272, 337, 225)})
        (new QWidget(&window))->setGeometry(at);
    (new QListWidget(&window))->setGeometry(208, 512, 113, 56);
    for (int i = 0; i < 4; ++i) {
        auto* label = new QLabel(QStringLiteral("Parameter %1").arg(i + 1), &window);
        label->setGeometry(376 + 104 * (i / 2), 512 + 32 * (i % 2), 66, 13);
        (new QLineEdit(QStringLiteral("1"), &window))->setGeometry(448 + 104 * (i / 2), 512 + 32 * (i % 2), 20, 19);
    }
    auto* note = new QLabel(QStringLiteral("click only if prompted"), &window);
    note->setWordWrap(true);
    note->setGeometry(16, 504, 57, 33);
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long long appReady = bench::monotonicNs();
    QWidget window;
    window.resize(725, 573);
    const QStringList args = QCoreApplication::arguments();
    if (args.contains(QStringLiteral("--text")))
        new QLabel(QStringLiteral("Class Notes Tutor"), &window);
    if (args.contains(QStringLiteral("--widgets")))
        addControls(window, args.contains(QStringLiteral("--designed")));
    const long long built = bench::monotonicNs();
    bench::FirstPaint painted;
    window.installEventFilter(&painted);
    window.show();
    QApplication::exec();
    std::printf("app %lld built %lld loaded %lld shown %lld private %lld\n", appReady, built, built, painted.at,
                painted.kb);
    return 0;
}

// "display notes" on notes files of 100 KB, 1 MB and 5 MB, and "display everything" after
// 1,000 records: the click (reading the file, setting the question box) and then the first
// paint of the question box, for the first click on a fresh window and for later ones.
// Beside each, the same text set into a stock QPlainTextEdit of the same size and font,
// which is what the question box would cost without its own care for long lines.
//   bench_display [REPEATS]   (default 5)

#include <QApplication>
#include <QPlainTextEdit>
#include <QScrollBar>

#include "bench_support.h"
#include "widgets/text_box.h"
#include "widgets/command_button.h"

namespace {

// Runs the event loop until `widget` has painted once, and gives the time it took.
double untilPainted(QWidget* widget)
{
    struct Watch : QObject {
        bool painted = false;
        bool eventFilter(QObject*, QEvent* event) override
        {
            painted |= event->type() == QEvent::Paint;
            return false;
        }
    } watch;
    widget->installEventFilter(&watch);
    QElapsedTimer t;
    t.start();
    widget->update();
    while (!watch.painted && t.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    widget->removeEventFilter(&watch);
    return bench::msSince(t);
}

struct Timing {
    std::vector<double> click;
    std::vector<double> paint;
    std::vector<double> total() const
    {
        std::vector<double> sum;
        for (std::size_t i = 0; i < click.size(); ++i)
            sum.push_back(click[i] + paint[i]);
        return sum;
    }
};

// What a stock text edit of the question box's size and font takes for the same text.
std::vector<double> stockEdit(const TextBox& like, const QString& text, int repeats)
{
    QPlainTextEdit edit;
    edit.setFont(like.font());
    edit.resize(like.size());
    edit.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    edit.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit.show();
    QCoreApplication::processEvents();
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    std::vector<double> taken;
    for (int i = 0; i < repeats; ++i) {
        edit.setPlainText(QString());
        QCoreApplication::processEvents();
        QElapsedTimer t;
        t.start();
        edit.setPlainText(shown);
        const double set = bench::msSince(t);
        taken.push_back(set + untilPainted(edit.viewport()));
    }
    return taken;
}

// The first click is what the student meets (memory is fresh then); later clicks on the
// same text show the steady cost.
void report(const QString& figure, const Timing& timing, const std::vector<double>& stock, double goalMs)
{
    const std::vector<double> total = timing.total();
    const double first = total.front();
    const std::vector<double> later(total.begin() + 1, total.end());
    std::fprintf(stderr,
                 "bench_display %-40s first click %7.1f ms + paint %6.1f ms, later median %7.1f ms; stock edit first %8.1f ms, later median %8.1f ms\n",
                 qPrintable(figure), timing.click.front(), timing.paint.front(),
                 later.empty() ? 0.0 : bench::median(later), stock.front(),
                 bench::median(std::vector<double>(stock.begin() + 1, stock.end())));
    bench::row(figure, bench::ms(first) + QStringLiteral(" (click ") + bench::ms(timing.click.front()) +
                           QStringLiteral(", paint ") + bench::ms(timing.paint.front()) +
                           (later.empty() ? QString() : QStringLiteral("; later clicks ") + bench::ms(bench::median(later))) +
                           u')',
               QStringLiteral("stock text edit ") + bench::ms(stock.front()), bench::ratio(first, stock.front()),
               goalMs > 0 ? QStringLiteral("< %1 s").arg(goalMs / 1000.0) : QStringLiteral("—"),
               goalMs > 0 ? std::optional<bool>(first < goalMs) : std::nullopt);
}

Timing timeClicks(MainWindow& w, CommandButton* button, int repeats, const std::function<void()>& reset)
{
    Timing timing;
    for (int i = 0; i < repeats; ++i) {
        reset();
        QCoreApplication::processEvents();
        QElapsedTimer t;
        t.start();
        button->click();
        timing.click.push_back(bench::msSince(t));
        timing.paint.push_back(untilPainted(w.txt_question->viewport()));
    }
    return timing;
}

}  // namespace

int main(int argc, char** argv)
{
    bench::useOffscreenPlatform();
    QApplication app(argc, argv);
    const int repeats = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 5;

    for (const auto& [label, bytes, goal] : {std::tuple{"100 KB", 100LL * 1024, 0.0},
                                             std::tuple{"1 MB", 1LL << 20, 300.0},
                                             std::tuple{"5 MB", 5LL << 20, 0.0}}) {
        bench::Drives drives;
        if (!bench::fillNotesFile(drives.home(QStringLiteral("notes_.txt")), bytes)) {
            std::fputs("bench_display: cannot write the notes file\n", stderr);
            return 1;
        }
        bench::Tutor tutor(drives.root.path());
        if (!tutor.start())
            return 1;
        MainWindow& w = *tutor.window;
        w.show();
        QCoreApplication::processEvents();
        const Timing timing = timeClicks(w, w.cmd_display_note_file, repeats, [&w] {
            w.currentText.clear();
            w.txt_question->setText(QString());
        });
        const QString shown = w.txt_question->text();
        if (shown.size() < bytes * 9 / 10) {
            std::fputs("bench_display: the notes did not reach the question box\n", stderr);
            return 1;
        }
        report(QStringLiteral("\"display notes\", %1 notes file").arg(QLatin1String(label)),
               timing, stockEdit(*w.txt_question, shown, repeats), goal);
    }

    bench::Drives drives;
    bench::Tutor tutor(drives.root.path());
    if (!tutor.start())
        return 1;
    MainWindow& w = *tutor.window;
    w.show();
    for (int i = 0; i < 1000; ++i) {
        if (i < 3)
            w.cmdNextQuestion->click();
        w.txt_answer->setText(QStringLiteral("Entry %1: the slope is rise over run, (18 m - 6 m) / (6 s - 2 s) = 3 m/s.")
                                  .arg(i));
        (i % 3 == 2 ? w.cmd_save_as_notes : w.cmd_enter_response)->click();
        if (w.hasEnded()) {
            std::fputs("bench_display: the session ended before 1,000 entries\n", stderr);
            return 1;
        }
    }
    QCoreApplication::processEvents();
    const Timing timing =
        timeClicks(w, w.cmd_displayCumulativeText, repeats, [&w] { w.txt_question->setText(QString()); });
    std::fprintf(stderr, "bench_display transcript after 1,000 records: %lld characters\n",
                 qlonglong(w.cumulativeText.size()));
    report(QStringLiteral("\"display everything\" after 1,000 records"), timing,
           stockEdit(*w.txt_question, w.txt_question->text(), repeats), 0);
    return 0;
}

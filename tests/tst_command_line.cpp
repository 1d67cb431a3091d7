#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The two programs as a user starts them, without a display: what they say and their exit status.
class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    void tutor_data();
    void tutor();
    void review_data();
    void review();
};

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

// The status of a tutor whose window opened: it waits for its user, and the test ends it.
constexpr int kWindowOpened = 255;

// With `windowSays`, a window may open: it is ended once standard error holds that.
Run run(const QString& program, const QStringList& arguments, const QByteArray& input = {},
        const QStringList& settings = {}, const QString& windowSays = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    for (const QString& setting : settings)
        environment.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForStarted())
        return {};
    process.write(input);
    process.closeWriteChannel();
    QByteArray err;
    process.setReadChannel(QProcess::StandardError);
    while (!windowSays.isEmpty() && !err.contains(windowSays.toUtf8()) && process.waitForReadyRead(60000))
        err += process.readAllStandardError();
    if (!windowSays.isEmpty() && process.state() == QProcess::Running) {
        process.kill();
        process.waitForFinished();
        return {kWindowOpened, QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(err)};
    }
    const bool ended = process.state() == QProcess::NotRunning || process.waitForFinished(60000);
    if (!ended || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(err + process.readAllStandardError())};
}

} // namespace

void TestCommandLine::tutor_data()
{
    QTest::addColumn<QStringList>("arguments"); // "@": the test's drives folder
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");

    QTest::newRow("unknown option") << QStringList{"--bogus"} << 1 << QString()
                                    << "classnotes-tutor: Unknown option 'bogus'.\n"
                                       "Usage: classnotes-tutor [--drives DIR] [--write-class-notes FILE] [--help] "
                                       "[--version]\n";
    QTest::newRow("stray argument") << QStringList{"--drives", "@", "send_1208.txt"} << 1 << QString()
                                    << "classnotes-tutor: unexpected argument 'send_1208.txt'";
    QTest::newRow("--drives without its folder")
        << QStringList{"--drives"} << 1 << QString() << "classnotes-tutor: Missing value after '--drives'";
    QTest::newRow("help names the record folder") << QStringList{"--drives", "@", "--help"} << 0 << "  @/c/tulmarox\n"
                                                  << QString();
    QTest::newRow("the built-in class notes written") << QStringList{"--write-class-notes", "@/class_notes.txt"} << 0
                                                      << "(15 sets, 281 lines) are in @/class_notes.txt" << QString();
    QTest::newRow("class notes written nowhere")
        << QStringList{"--write-class-notes", "@/none/class_notes.txt"} << 1 << QString()
        << "classnotes-tutor: cannot write @/none/class_notes.txt";
    QTest::newRow("version") << QStringList{"--version"} << 0 << "classnotes-tutor " TUTOR_VERSION "\n" << QString();
    QTest::newRow("Qt's own options are no mistake")
        << QStringList{"-platform", "offscreen", "-style=fusion", "-reverse", "-v"} << 0
        << "classnotes-tutor " TUTOR_VERSION "\n"
        << QString();
    QTest::newRow("no display") << QStringList{"--drives", "@"} << 2 << QString()
                                << "classnotes-tutor: no display to open a window on";
    // A platform set stands for a display. Qt warns of two settings while the window's application
    // is made; what it says is held until then, and passed on a line each.
    QTest::newRow("a platform set, and what Qt says while it starts")
        << QStringList{"--drives", "@"} << kWindowOpened << QString()
        << "Unknown scale factor rounding policy: bogus. Supported values are: Round, Ceil, Floor, RoundPreferFloor, "
           "PassThrough.\nUnknown DPI adjustment policy: bogus. Supported values are: AdjustDpi, DontAdjustDpi, "
           "AdjustUpOnly.\n";
}

void TestCommandLine::tutor()
{
#ifdef _WIN32
    QSKIP("on Windows the tutor is a GUI program: it answers its command line in a message box, not on a console");
#endif
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);

    QTemporaryDir drives;
    for (QString& a : arguments)
        a.replace(u'@', drives.path());
    out.replace(u'@', drives.path());
    err.replace(u'@', drives.path());
    const bool opens = status == kWindowOpened;
    const QStringList settings{"QT_QPA_PLATFORM=offscreen", "QT_SCALE_FACTOR_ROUNDING_POLICY=bogus",
                               "QT_DPI_ADJUSTMENT_POLICY=bogus"};
    const Run r =
        run(QStringLiteral(TUTOR_PROGRAM), arguments, {}, opens ? settings : QStringList(), opens ? err : QString());
    QCOMPARE(r.status, status);
    QVERIFY2(out.isEmpty() ? r.out.isEmpty() : r.out.contains(out), qPrintable(r.out));
    QVERIFY2(err.isEmpty() ? r.err.isEmpty() : r.err.contains(err), qPrintable(r.err));
    // Nothing created by a command line that opens no window, but the class notes asked for.
    QCOMPARE(QDir(drives.path()).isEmpty(), status != 0 || !arguments.contains(QStringLiteral("--write-class-notes")));
}

void TestCommandLine::review_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");

    // A note as the notes file holds it: ASCII, so in the code page and in UTF-8 alike.
    const QByteArray rule = "......!!!!!!!!...................................\r\n";
    const QByteArray note = rule + QByteArray(56, ' ') + "09:00:00\r\n" + QByteArray(42, ' ') +
                            "12-07-2026    09:00:00\r\nL\r\n" + rule + "NOTES -------> caf\xC3\xA9\r\n" +
                            QByteArray(49, '.') + QByteArray(7, ' ');
    QTest::newRow("version") << QStringList{"--version"} << QByteArray() << 0 << "classnotes-review " TUTOR_VERSION "\n"
                             << QString();
    for (const char* help : {"--help", "-h"})
        QTest::newRow(help) << QStringList{help} << QByteArray() << 0
                            << "Usage: classnotes-review [--csv | --html] [-o FILE] FILE...\n"
                            << QString();
    QTest::newRow("standard input through a pipe, as UTF-8") << QStringList{"-"} << note << 0 << ",note,,L,café,,,\r\n"
                                                             << "classnotes-review: standard input: read as UTF-8";
    QTest::newRow("standard input through a pipe, in the code page")
        << QStringList{"-"} << QByteArray(note).replace("\xC3\xA9", "\xE9") << 0 << ",note,,L,café,,,\r\n"
        << QString();
    QTest::newRow("a full device") << QStringList{"-o", "/dev/full", "-"} << note << 2 << QString()
                                   << "classnotes-review: /dev/full: the report could not be written";
    QTest::newRow("standard output on a full device")
        << QStringList{"-"} << note << 2 << QString()
        << "classnotes-review: standard output: the report could not be written";
}

void TestCommandLine::review()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
#ifdef _WIN32
    if (QByteArray(QTest::currentDataTag()).contains("full device"))
        QSKIP("Windows has no device like /dev/full, which opens and then refuses every write");
#endif

    Run r;
    if (QTest::currentDataTag() == QLatin1String("standard output on a full device")) {
        // The shell opens /dev/full as standard output, as `classnotes-review - > /dev/full` does.
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("in.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(input) == input.size());
        file.close();
        r = run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exec \"$0\" \"$1\" > /dev/full"),
                                            QStringLiteral(REVIEW_PROGRAM), file.fileName()});
    } else {
        r = run(QStringLiteral(REVIEW_PROGRAM), arguments, input);
    }
    QCOMPARE(r.status, status);
    QVERIFY2(out.isEmpty() ? r.out.isEmpty() : r.out.contains(out), qPrintable(r.out));
    QVERIFY2(err.isEmpty() ? r.err.isEmpty() : r.err.contains(err), qPrintable(r.err));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_command_line.moc"

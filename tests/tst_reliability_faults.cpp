#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>
#endif

#include "records/record_layout.h"
#include "support/file_size_limit.h"
#include "support/tutor_fixture.h"
#include "widgets/text_box.h"

// Faults of the append path in the middle of a session: each gives a message that names
// the file and the reason, keeps the student's text, writes no part of a record and claims
// nothing; once mended, clicking again completes the record exactly once in every file.

namespace {

enum class Fault { DiskFull, SizeLimit, ReadOnly, FolderRemoved, FileIsAFolder, HeldOpen };

const QString kMaster = QStringLiteral("masterFile.txt");
const QString kSend = QStringLiteral("send_1208.txt");
const QString kNotes = QStringLiteral("notes_.txt");
constexpr qint64 kPage = 4096;

#ifdef _WIN32
// A test cannot mount a small disk on Windows; the file layer's full-disk case runs under
// Wine on a small drive of its own (tools/check-windows).
class Tmpfs {
public:
    explicit Tmpfs(const QString&) {}
    bool mounted() const { return false; }
    void fillLeaving(qint64) {}
    void empty() {}
};

// Another program that has the file open without sharing it, as an editor or a virus
// scanner may: nobody else can open it until it lets go.
class HeldFile {
public:
    explicit HeldFile(const QString& path)
        : handle_(CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()), GENERIC_READ, 0,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }
    ~HeldFile() { release(); }
    bool held() const { return handle_ != INVALID_HANDLE_VALUE; }
    void release()
    {
        if (held())
            CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
};

// The read-only attribute: refused to every user, as chattr +i is to root.
bool makeReadOnly(const QString& path, bool readOnly)
{
    const QFile::Permissions all = QFile::permissions(path);
    const QFile::Permissions write = QFile::WriteOwner | QFile::WriteUser | QFile::WriteGroup | QFile::WriteOther;
    return QFile::setPermissions(path, readOnly ? all & ~write : all | write);
}
#else
// A small tmpfs over the record folder for as long as it lives.
class Tmpfs {
public:
    explicit Tmpfs(const QString& at) : at_(QFile::encodeName(at))
    {
        mounted_ = ::mount("tmpfs", at_.constData(), "tmpfs", 0, "size=512k") == 0;
    }
    ~Tmpfs()
    {
        if (filler_ >= 0)
            ::close(filler_);
        if (mounted_)
            ::umount2(at_.constData(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

    // Fills every free page, then gives back `pages` of them.
    void fillLeaving(qint64 pages)
    {
        filler_ = ::open((at_ + "/filler").constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const QByteArray chunk(kPage, 'f');
        qint64 written = 0;
        while (::write(filler_, chunk.constData(), size_t(kPage)) == kPage)
            ++written;
        QVERIFY(::ftruncate(filler_, (written - pages) * kPage) == 0);
    }
    void empty() { QVERIFY(::ftruncate(filler_, 0) == 0); }

private:
    QByteArray at_;
    bool mounted_ = false;
    int filler_ = -1;
};

class HeldFile {
public:
    explicit HeldFile(const QString&) {}
    bool held() const { return false; }
    void release() {}
};

// Immutable: refused even to root, who may write to a file without write permission.
bool makeReadOnly(const QString& path, bool readOnly)
{
    QProcess p;
    p.start(QStringLiteral("chattr"), {readOnly ? QStringLiteral("+i") : QStringLiteral("-i"), path});
    return p.waitForFinished() && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}
#endif

qint64 pagesToGrow(qint64 size, qint64 by)
{
    return (size + by + kPage - 1) / kPage - (size + kPage - 1) / kPage;
}

} // namespace

Q_DECLARE_METATYPE(Fault)

class TestReliabilityFaults : public QObject {
    Q_OBJECT
private slots:
    void faultThenMendedRetry_data();
    void faultThenMendedRetry();
};

void TestReliabilityFaults::faultThenMendedRetry_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<bool>("note");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QStringList>("tookIt");
    const QStringList none;
    QTest::newRow("disk full at the master file, answer")
        << Fault::DiskFull << false << kMaster << "the disk is full" << none;
    QTest::newRow("disk full at the send file, note")
        << Fault::DiskFull << true << kSend << "the disk is full" << QStringList{kMaster};
    QTest::newRow("disk full at the notes file, note")
        << Fault::DiskFull << true << kNotes << "the disk is full" << QStringList{kMaster, kSend};
    QTest::newRow("size limit at the master file, answer")
        << Fault::SizeLimit << false << kMaster << "largest size allowed" << none;
    QTest::newRow("size limit at the notes file, note")
        << Fault::SizeLimit << true << kNotes << "largest size allowed" << QStringList{kMaster, kSend};
    QTest::newRow("read-only send file, answer") << Fault::ReadOnly << false << kSend << "read-only" << none;
    QTest::newRow("read-only notes file, note") << Fault::ReadOnly << true << kNotes << "read-only" << none;
    // Its files can still be written, but no lock can be made there.
    QTest::newRow("read-only record folder, answer") << Fault::ReadOnly << false << QString() << "read-only" << none;
    QTest::newRow("folder removed, answer") << Fault::FolderRemoved << false << kMaster << "does not exist" << none;
    QTest::newRow("notes file is a folder, note")
        << Fault::FileIsAFolder << true << kNotes << "it is a folder, not a file" << none;
    QTest::newRow("send file is a folder, answer")
        << Fault::FileIsAFolder << false << kSend << "it is a folder, not a file" << none;
#ifdef _WIN32
    QTest::newRow("send file held by another program, answer")
        << Fault::HeldOpen << false << kSend << "another program has the file open" << none;
    QTest::newRow("master file held by another program, note")
        << Fault::HeldOpen << true << kMaster << "another program has the file open" << none;
#endif
}

void TestReliabilityFaults::faultThenMendedRetry()
{
    QFETCH(Fault, fault);
    QFETCH(bool, note);
    QFETCH(QString, target);
    QFETCH(QString, reason);
    QFETCH(QStringList, tookIt);

    Tutor tutor;
    std::unique_ptr<Tmpfs> disk;
    if (fault == Fault::DiskFull) {
        disk = std::make_unique<Tmpfs>(tutor.homePath(QString()));
        if (!disk->mounted())
            QSKIP("mounting a small tmpfs is not allowed here (needs root, and Linux)");
    }
    // Set 10, whose question numbers are 100000 and up, after one note so that all three files exist.
    MainWindow& w = tutor.startHome(QStringLiteral("10"));
    QTest::mouseClick(ui(w).cmdNextQuestion, Qt::LeftButton);
    ui(w).txt_answer->setText(QStringLiteral("first note"));
    QTest::mouseClick(ui(w).cmd_save_as_notes, Qt::LeftButton);
    QTest::mouseClick(ui(w).cmdNextQuestion, Qt::LeftButton);
    QCOMPARE(tutor.prompter.messages, QStringList());

    // Ten kilobytes of answer: more than any file's last page can take.
    QString text;
    for (int i = 0; text.size() < 10000; ++i)
        text += QStringLiteral("line %1 of a long answer, v = d/t\r\n").arg(i);
    const QStringList files = note ? QStringList{kMaster, kSend, kNotes} : QStringList{kMaster, kSend};
    QMap<QString, QByteArray> record;
    for (const QString& f : files) {
        const bool master = f == kMaster;
        record[f] =
            recordBytes(note ? records::notesRecord(QStringLiteral("10:15:30"), QStringLiteral("12-08-2026"),
                                                    w.session().currentLine(), records::kNotesMarker + text, master)
                             : records::questionRecord(QStringLiteral("10:15:30"), w.session().currentLine(), text,
                                                       master ? std::optional<double>(100000.0) : std::nullopt));
    }

    QMap<QString, QByteArray> before;
    for (const QString& f : {kMaster, kSend, kNotes})
        before[f] = tutor.homeBytes(f);
    const QString targetPath = tutor.homePath(target);
    std::unique_ptr<FileSizeLimit> limit;
    std::unique_ptr<HeldFile> holder;
    QString immutable;
    // An immutable file left behind would outlive the temporary folder.
    const auto thaw = qScopeGuard([&] {
        if (!immutable.isEmpty())
            makeReadOnly(immutable, false);
    });
    switch (fault) {
    case Fault::DiskFull: {
        // The folder's lock file, and the lock's intent (the whole record), while it is appended.
        qint64 intent = 512;
        for (const QString& f : files)
            intent += record[f].size();
        qint64 pages = 1 + (intent + kPage - 1) / kPage;
        for (const QString& f : tookIt)
            pages += pagesToGrow(before[f].size(), record[f].size());
        disk->fillLeaving(pages);
        break;
    }
    case Fault::SizeLimit:
        // The target grows far past the others; the limit then lets only the others grow.
        before[target] += QByteArray(200000, 'p') + "\r\n";
        QVERIFY(testfiles::write(targetPath, before[target]));
        SKIP_WITHOUT_FILE_SIZE_LIMIT();
        limit = std::make_unique<FileSizeLimit>(before[target].size() + 10);
        break;
    case Fault::ReadOnly:
#ifdef _WIN32
        // Windows keeps a folder's read-only attribute as a mark only: files are still made in
        // it. A folder closed to writing is one whose access rights say so, which Wine does not
        // enforce; the read-only files above stand for it.
        if (target.isEmpty())
            QSKIP("a folder's read-only attribute does not stop Windows from making files in it");
#endif
        if (!makeReadOnly(targetPath, true))
            QSKIP("cannot make a file immutable here (chattr +i needs root and a file system that has it)");
        immutable = targetPath;
        break;
    case Fault::HeldOpen:
        holder = std::make_unique<HeldFile>(targetPath);
        QVERIFY(holder->held());
        break;
    case Fault::FolderRemoved:
        QVERIFY(QDir(tutor.homePath(QString())).removeRecursively());
        break;
    case Fault::FileIsAFolder:
        QVERIFY(QFile::remove(targetPath));
        QVERIFY(QDir().mkdir(targetPath));
        break;
    }

    const QString transcript = w.session().cumulativeText().text();
    const QString question = ui(w).txt_question->text();
    ui(w).txt_answer->setText(text);
    QTest::mouseClick(note ? ui(w).cmd_save_as_notes : ui(w).cmd_enter_response, Qt::LeftButton);
    limit.reset();

    QCOMPARE(tutor.prompter.messages.size(), 1);
    const QString message = tutor.prompter.messages[0];
    qInfo().noquote() << message;
    QVERIFY2(message.contains(QStringLiteral("c:\\tulmarox\\") + target), qPrintable(message));
    QVERIFY2(message.contains(QDir::toNativeSeparators(targetPath)), qPrintable(message));
    QVERIFY2(message.contains(reason), qPrintable(message));
    QVERIFY2(message.contains(QStringLiteral("stays in the answer box")), qPrintable(message));
    QCOMPARE(message.contains(QStringLiteral("already recorded")), !tookIt.isEmpty());
    QCOMPARE(ui(w).txt_answer->text(), text);
    QCOMPARE(ui(w).txt_question->text(), question);
    QCOMPARE(w.session().cumulativeText().text(), transcript);
    QVERIFY(w.session().responsePending());
    // No part of the record anywhere it was not wholly written.
    if (fault != Fault::FolderRemoved) {
        for (const QString& f : files) {
            // A folder cannot be read as a file, and a held file cannot be read by anybody.
            if (f == target && (fault == Fault::FileIsAFolder || fault == Fault::HeldOpen))
                continue;
            QCOMPARE(tutor.homeBytes(f), tookIt.contains(f) ? before[f] + record[f] : before[f]);
        }
    }

    switch (fault) {
    case Fault::DiskFull:
        disk->empty();
        break;
    case Fault::SizeLimit:
        break;
    case Fault::ReadOnly:
        QVERIFY(makeReadOnly(targetPath, false));
        immutable.clear();
        break;
    case Fault::HeldOpen:
        holder->release();
        break;
    case Fault::FolderRemoved:
        QVERIFY(QDir().mkpath(tutor.homePath(QString())));
        for (const QString& f : {kMaster, kSend, kNotes})
            QVERIFY(testfiles::write(tutor.homePath(f), before[f]));
        break;
    case Fault::FileIsAFolder:
        QVERIFY(QDir().rmdir(targetPath));
        QVERIFY(testfiles::write(targetPath, before[target]));
        break;
    }
    // The retry comes later, but the record keeps the time it was first given.
    tutor.clock.set(QDateTime(QDate(2026, 12, 8), QTime(10, 40, 0)));
    QTest::mouseClick(note ? ui(w).cmd_save_as_notes : ui(w).cmd_enter_response, Qt::LeftButton);
    QCOMPARE(tutor.prompter.messages.size(), 1);
    QCOMPARE(ui(w).txt_answer->text(), QString());
    QVERIFY(!w.session().responsePending());
    for (const QString& f : files)
        QCOMPARE(tutor.homeBytes(f), before[f] + record[f]);
    QVERIFY(w.session().cumulativeText().text().startsWith(w.session().answerSeparator() +
                                                           (note ? records::kNotesMarker : QString()) + text));
}

QTEST_MAIN(TestReliabilityFaults)
#include "tst_reliability_faults.moc"

#include "support/tutor_fixture.h"

#include "platform/code_page.h"

TutorServices Tutor::services()
{
    TutorServices s;
    s.prompter = &prompter;
    s.clock = clockInUse;
    s.sound = soundInUse;
    s.drivesRoot = drivesRoot;
    s.journalFolder = journalFolder;
    s.contentPath = contentPath;
    s.seed = seed;
    s.leaveEventLoop = [this] { ++ends; };
    return s;
}

MainWindow& Tutor::create()
{
    window = std::make_unique<MainWindow>(services());
    return *window;
}

MainWindow& Tutor::start(const QList<std::optional<QString>>& answers)
{
    prompter.answers = answers;
    create();
    window->Form_Load();
    return *window;
}

MainWindow& Tutor::startHome(const QString& classNotes)
{
    return start({QStringLiteral("1"), QStringLiteral("Ann"), classNotes});
}

QString Tutor::homePath(const QString& name) const
{
    return drivesRoot + QStringLiteral("/c/tulmarox/") + name;
}

QByteArray Tutor::homeBytes(const QString& name) const
{
    QFile f(homePath(name));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

QByteArray recordBytes(const QString& text)
{
    return codepage::encode(text);
}

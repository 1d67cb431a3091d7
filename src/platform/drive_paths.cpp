#include "drive_paths.h"

#include <QDir>
#include <QStandardPaths>

QString DrivePaths::local(const QString& windowsPath) const
{
#ifdef Q_OS_WIN
    // The drives themselves unless a root is given: the tests give one, so that they never
    // touch the real c:\tulmarox or I:.
    if (root_.isEmpty())
        return windowsPath;
#endif
    QString rest = windowsPath;
    QString drive;
    if (rest.size() >= 2 && rest[1] == u':' && rest[0].isLetter()) {
        drive = rest.left(1).toLower();
        rest = rest.mid(2);
    }
    rest.replace(u'\\', u'/');
    while (rest.startsWith(u'/'))
        rest.remove(0, 1);
    QString path = root_;
    if (!drive.isEmpty())
        path += u'/' + drive;
    if (!rest.isEmpty())
        path += u'/' + rest;
    return QDir::cleanPath(path);
}

QString DrivePaths::defaultRoot()
{
#ifdef Q_OS_WIN
    return {};
#endif
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/classnotes-tutor/drives");
}

#include "support/test_files.h"

#include <QFile>

#include "platform/code_page.h"

namespace testfiles {

QString homePath(const QString& drivesRoot, const QString& name)
{
    return drivesRoot + u'/' + kHomeFolder + u'/' + name;
}

QByteArray read(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size() && f.flush();
}

bool append(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::Append) && f.write(bytes) == bytes.size() && f.flush();
}

} // namespace testfiles

QByteArray recordBytes(const QString& text)
{
    return codepage::encode(text);
}

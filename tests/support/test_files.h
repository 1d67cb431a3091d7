#pragma once

#include <QByteArray>
#include <QString>

// Files as tests set them up and read them back.
namespace testfiles {

// The home record folder under a drives root, as the drive paths place c:\tulmarox.
inline const QString kHomeFolder = QStringLiteral("c/tulmarox");

QString homePath(const QString& drivesRoot, const QString& name);
// The whole file; empty when it cannot be read.
QByteArray read(const QString& path);
// Replaces the file with the bytes; false when that did not work whole.
[[nodiscard]] bool write(const QString& path, const QByteArray& bytes);
// Adds the bytes at the file's end, making it where it is missing.
[[nodiscard]] bool append(const QString& path, const QByteArray& bytes);

} // namespace testfiles

// The bytes of a text as the record files hold it.
QByteArray recordBytes(const QString& text);

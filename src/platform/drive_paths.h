#pragma once

#include <QString>

// The program names its files as Windows paths ("c:\tulmarox\masterFile.txt").
// On Windows a path is used as written (the default root there is empty); elsewhere, and on
// Windows with a root given, "X:\a\b" lies at <drives root>/x/a/b.
class DrivePaths {
public:
    explicit DrivePaths(QString drivesRoot) : root_(std::move(drivesRoot)) {}

    QString local(const QString& windowsPath) const;

    static QString defaultRoot();

private:
    QString root_;
};

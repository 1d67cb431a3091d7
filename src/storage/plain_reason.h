#pragma once

#include <QString>

// Why a file operation failed, in words a student can act on.
QString plainReason(int error, const QString& path);
// Why a write failed. A network client (`remote`) cannot always tell a full disk on the file
// server from a lost reply, and then both are named.
QString writeReason(int error, bool remote, const QString& path);

#pragma once

#include <QString>

// Why a file operation failed, in words a student can act on.
QString plainReason(int error, const QString& path);

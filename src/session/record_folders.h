#pragma once

#include <QString>

// The two record folders, as the program names them (Windows paths).
namespace folders {
inline const QString kHome = QStringLiteral("c:\\tulmarox");
// The institution's folder: the program never creates it.
inline const QString kNetwork =
    QStringLiteral("i:\\bkp_000416\\My Documents\\distance students\\interactive problems\\lb1");
} // namespace folders

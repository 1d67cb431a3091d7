#pragma once

#include <QString>

#include "platform/runtime_text.h"

// A picture line begins with the picture marker in any mix of case; the routine's name
// stands from the tenth character on.
inline bool isPictureLine(const QString& line)
{
    return rt::left(line, 8).toLower() == QLatin1String("`routine");
}

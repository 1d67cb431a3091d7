#pragma once

#include <QString>

#include "platform/runtime_text.h"

// A picture line begins with the picture marker in any mix of case; the routine's name
// stands from the tenth character on. The routines a name can call are the drawings'
// table (diagrams/routines.h).
inline bool isPictureLine(const QString& line)
{
    return runtimetext::left(line, 8).toLower() == QLatin1String("`routine");
}

// The text without its blanks and hyphens; every other character keeps its place and case.
inline QString withoutBlanksAndHyphens(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (c != u' ' && c != u'-')
            result += c;
    }
    return result;
}

// The routine a picture line names: from its tenth character on, without blanks and
// hyphens, in lower case.
inline QString routineNameOf(const QString& pictureLine)
{
    return withoutBlanksAndHyphens(runtimetext::midFrom(pictureLine, 10)).toLower();
}

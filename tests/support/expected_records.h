#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The records as the files must hold them, written out line by line from the layouts, so
// that a test compares whole files byte for byte.
namespace expected {

inline const QString kOpen = QStringLiteral("......!!!!!!!!...................................");
inline const QString kClose = QStringLiteral(".................................................");
inline const QString kTimeLine = QString(56, u' ') + QStringLiteral("10:15:30");
inline const QString kDateTimeLine = QString(42, u' ') + QStringLiteral("12-08-2026    10:15:30");

inline QString lines(const QStringList& list)
{
    return list.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

inline QString questionMaster(const QString& number, const QString& line, const QString& answer)
{
    return lines({kOpen, kTimeLine, "", "", "`questionNumber" + QString(13, u' ') + number, line, kOpen,
                  "RESPONSE -->  ", answer, kClose});
}

inline QString questionSend(const QString& line, const QString& answer)
{
    return lines({kOpen, kTimeLine, line, kOpen, "RESPONSE -->  ", answer, kClose});
}

inline QString notesRecord(const QString& line, const QString& note, bool master)
{
    const QString body = lines({kOpen, kTimeLine, kDateTimeLine, line, kOpen, "NOTES -------> " + note});
    return body + kClose + (master ? QStringLiteral("\r\n") : QString(7, u' '));
}

inline QByteArray header(const QByteArray& file)
{
    qsizetype at = 0;
    for (int i = 0; i < 5; ++i)
        at = file.indexOf("\r\n", at) + 2;
    return file.left(at);
}

} // namespace expected

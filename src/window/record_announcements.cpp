#include "record_announcements.h"

QString recordAnnouncement(RecordKind kind, Boxes boxes, bool heldReminder)
{
    if (boxes != Boxes::ClearBoth || heldReminder)
        return QString();
    return kind == RecordKind::Note ? QStringLiteral("Note saved") : QStringLiteral("Answer recorded");
}

#pragma once

#include <QString>

#include "records/record_book.h"

// What a screen reader says after Enter Response or Save as Notes: a record that took the
// answer box is confirmed; the reminder passing on, or a record that failed, says nothing
// here (a failure has its own message).
QString recordAnnouncement(RecordKind kind, Boxes boxes, bool heldReminder);

#pragma once

#include "records/record_services.h"

// What the tutor's Core needs from its surroundings: the session takes its part, the record
// book its own; tests hand in stand-ins. No host name means this computer's, no id maker the
// session index's (the controller fills them in).
struct TutorServices : RecordServices {
    // The session header written once the window has first been painted (or before anything the
    // student does, whichever comes first), so that the window does not wait for its flushes.
    // Off: start() writes it, as a program without a window needs.
    bool headerAfterFirstPaint = false;
};

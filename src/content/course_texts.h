#pragma once

#include <QString>

// Texts of the course that the walk shows and the record files and the review share.
namespace records {

inline const QString kCourseTitle = QStringLiteral("Physics I Class Notes");

// What the answer box shows when a line got no response. The window never records it as it
// stands; the instructor's review flags a text that is only this or starts with it.
inline const QString kAnswerPrompt =
    QStringLiteral("Enter, as appropriate, an answer to the question, a critique of your answer in response to a "
                   "given answer, your insights regarding the situation at this point, notes to yourself, or just an "
                   "OK.\r\n\r\nAlways critique your solutions by describing any insights you had or errors you makde, "
                   "and by explaining how you can make use of the insight or how you now know how to avoid certain "
                   "errors.  Also pose for the instructor any question or questions that you have related to the "
                   "problem or series of problems.");

} // namespace records

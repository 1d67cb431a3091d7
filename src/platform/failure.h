#pragma once

#include <QString>

// Why an operation did not do its work, in words a student can act on. Operations that
// can fail return std::optional<Failure>: empty when the work was done.
struct Failure {
    QString reason;
};

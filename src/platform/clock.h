#pragma once

#include <QDateTime>
#include <QString>

// Time of day and date as the record files write them.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;

    QString timeText() const;            // hh:mm:ss, 24-hour clock
    QString dateText() const;            // mm-dd-yyyy
    double secondsSinceMidnight() const; // with its fraction
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

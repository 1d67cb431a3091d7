#include "clock.h"

QString Clock::timeText() const
{
    return now().time().toString(QStringLiteral("HH:mm:ss"));
}

QString Clock::dateText() const
{
    return now().date().toString(QStringLiteral("MM-dd-yyyy"));
}

double Clock::secondsSinceMidnight() const
{
    return now().time().msecsSinceStartOfDay() / 1000.0;
}

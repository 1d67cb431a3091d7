#pragma once

#include "platform/clock.h"

// A clock that stands still until the test moves it.
class SettableClock final : public Clock {
public:
    explicit SettableClock(QDateTime at) : at_(std::move(at)) {}
    QDateTime now() const override { return at_; }
    void set(const QDateTime& at) { at_ = at; }

private:
    QDateTime at_;
};

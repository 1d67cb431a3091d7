#pragma once

// The beep of the pendulum experiment; the real one is widgets/system_sound.h.
class Sound {
public:
    virtual ~Sound() = default;
    virtual void beep() = 0;
};

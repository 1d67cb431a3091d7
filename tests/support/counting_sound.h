#pragma once

#include "platform/sound.h"

// Counts the beeps instead of sounding them.
class CountingSound final : public Sound {
public:
    int beeps = 0;
    void beep() override { ++beeps; }
};

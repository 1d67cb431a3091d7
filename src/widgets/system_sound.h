#pragma once

#include "platform/sound.h"

class SystemSound final : public Sound {
public:
    void beep() override;
};

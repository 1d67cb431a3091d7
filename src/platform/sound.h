#pragma once

class Sound {
public:
    virtual ~Sound() = default;
    virtual void beep() = 0;
};

class SystemSound final : public Sound {
public:
    void beep() override;
};

class CountingSound final : public Sound {
public:
    int beeps = 0;
    void beep() override { ++beeps; }
};

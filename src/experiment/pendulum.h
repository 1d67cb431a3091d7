#pragma once

class PictureBox;
class RandomSource;
class Sound;

namespace experiment {
// One tick of the pendulum timer: a beep, and a circle of random radius about the centre.
void pendulumTick(PictureBox& picture, RandomSource& random, Sound& sound);
} // namespace experiment

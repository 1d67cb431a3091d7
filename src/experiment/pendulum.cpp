#include "experiment/pendulum.h"

#include "platform/random_source.h"
#include "platform/sound.h"
#include "widgets/picture_box.h"

namespace experiment {

void pendulumTick(PictureBox& picture, RandomSource& random, Sound& sound)
{
    sound.beep();
    picture.describe(QStringLiteral("circles of the pendulum experiment"));
    // The run's one generator, shared with the code line and the circle colours.
    const float r = random.next();
    picture.circle(500, 500, double(r) * 500.0);
}

} // namespace experiment

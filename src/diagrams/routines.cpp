#include "diagrams/routines.h"

namespace diagram {

bool drawRoutine(const QString& name, PictureBox& picture)
{
    for (const NamedRoutine& routine : kPictureRoutines) {
        if (name == QLatin1String(routine.name)) {
            routine.draw(picture);
            return true;
        }
    }
    return false;
}

} // namespace diagram

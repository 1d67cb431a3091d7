#include "system_sound.h"

#include <QApplication>

void SystemSound::beep()
{
    QApplication::beep();
}

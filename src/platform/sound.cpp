#include "sound.h"

#include <QApplication>

void SystemSound::beep()
{
    QApplication::beep();
}

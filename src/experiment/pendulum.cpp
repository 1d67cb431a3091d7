#include <QTimer>

#include "platform/picture_box.h"
#include "platform/sound.h"
#include "window/main_window.h"

void MainWindow::cmd_pend_exp_Click()
{
    if (ended_)
        return;
    // QTimer::start() on a running timer would push the next tick back by a full interval.
    if (!tmr_pend_exp->isActive())
        tmr_pend_exp->start();
}

void MainWindow::tmr_pend_exp_Timer()
{
    if (ended_)
        return;
    services_.sound->beep();
    Picture1->describe(QStringLiteral("circles of the pendulum experiment"));
    const float r = random_.next();
    Picture1->circle(500, 500, double(r) * 500.0);
}

#include <QTimer>

#include "platform/sound.h"
#include "widgets/picture_box.h"
#include "window/main_window.h"

void MainWindow::cmd_pend_exp_Click()
{
    // QTimer::start() on a running timer would push the next tick back by a full interval.
    if (!tmr_pend_exp->isActive())
        tmr_pend_exp->start();
}

void MainWindow::tmr_pend_exp_Timer()
{
    services_.sound->beep();
    Picture1->describe(QStringLiteral("circles of the pendulum experiment"));
    // The run's one generator, shared with the code line and the circle colours.
    const float r = session_.random().next();
    Picture1->circle(500, 500, double(r) * 500.0);
}

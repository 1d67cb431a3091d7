#include <QClipboard>
#include <QGuiApplication>

#include "widgets/picture_box.h"
#include "window/main_window.h"

void MainWindow::cmd_copy_picture_Click()
{
    const QImage picture = Picture1->picture();
    // Picture1 has no picture unless one was assigned. An empty image would either be
    // refused by the clipboard or wipe what another program left there, so nothing goes
    // on the clipboard and Picture2 simply shows no picture either.
    if (picture.isNull()) {
        Picture2->setPicture(QImage());
        Picture2->describe(QStringLiteral("empty picture"));
        return;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setImage(picture);
    Picture2->setPicture(clipboard->image());
    Picture2->describe(QStringLiteral("a copy of the picture in Picture1"));
}

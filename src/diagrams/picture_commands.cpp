#include "diagrams/picture_commands.h"

#include <QClipboard>
#include <QGuiApplication>

#include "widgets/picture_box.h"

namespace diagram {

void copyPicture(PictureBox& from, PictureBox& to)
{
    const QImage picture = from.picture();
    // Picture1 has no picture unless one was assigned. An empty image would either be
    // refused by the clipboard or wipe what another program left there, so nothing goes
    // on the clipboard and Picture2 simply shows no picture either.
    if (picture.isNull()) {
        to.setPicture(QImage());
        to.describe(QStringLiteral("empty picture"));
        return;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setImage(picture);
    to.setPicture(clipboard->image());
    to.describe(QStringLiteral("a copy of the picture in Picture1"));
}

} // namespace diagram

#include "diagrams/labels.h"

#include "widgets/picture_box.h"

namespace diagram {

void printAt(PictureBox& picture, double x, double y, const QString& text)
{
    picture.setCurrentX(x);
    picture.setCurrentY(y);
    picture.print(text);
}

void printLabels(PictureBox& picture, std::initializer_list<Label> labels)
{
    for (const Label& label : labels)
        printAt(picture, label.x, label.y, QLatin1String(label.text));
}

} // namespace diagram

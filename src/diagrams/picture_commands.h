#pragma once

class PictureBox;

namespace diagram {
// "copy picture": the picture assigned to `from` goes to `to` through the system clipboard.
void copyPicture(PictureBox& from, PictureBox& to);
} // namespace diagram

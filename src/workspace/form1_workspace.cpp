// The picture area's operations of the main window: opening, dropping, the clipboard menu
// and the BMP export.
#include "app/form1.h"
#include "workspace/picturearea.h"

namespace pw {

void Form1::setupWorkspace()
{
    connect(picture(), &PictureArea::filesDropped, this, &Form1::Picture1_OLEDragDrop);
    connect(picture(), &PictureArea::rightClicked, this,
            [this](const QPoint &pos) { Picture1_MouseDown(Qt::RightButton, pos); });
}

void Form1::open_picture() {}
void Form1::save_bmp() {}
void Form1::Picture1_OLEDragDrop(const QStringList &) {}
void Form1::Picture1_MouseDown(Qt::MouseButton, const QPoint &) {}
void Form1::popcopy_Click() {}
void Form1::poppaste_Click() {}

}  // namespace pw

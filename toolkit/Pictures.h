#pragma once

#include <QImage>
#include <QPixmap>

namespace toolkit {

// The two button pictures, 16 x 16: an orange plus sign (add) and a red diagonal cross
// (delete). The bitmaps are the stored 24-bit pictures on their white background; the pixmaps
// are the same pictures with white made transparent, as buttons and the help text show them.
QImage addBitmap();
QImage deleteBitmap();
QPixmap addPicture();
QPixmap deletePicture();

// The bitmap with every pure white pixel fully transparent.
QImage whiteTransparent(const QImage& bitmap);

} // namespace toolkit

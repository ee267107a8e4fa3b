#include "toolkit/Pictures.h"

#include "data/Errors.h"

static void initPictureResources() {
    // The resources live in a static library: nothing would pull their object file into the
    // program unless it is referenced from here.
    static const bool done = [] {
        Q_INIT_RESOURCE(pictures);
        return true;
    }();
    (void)done;
}

namespace toolkit {

namespace {

QImage loadBitmap(const QString& path) {
    initPictureResources();
    QImage image(path);
    if (image.isNull())
        throw Exception(QStringLiteral("Cannot load the picture %1").arg(path));
    return image.convertToFormat(QImage::Format_RGB888);
}

} // namespace

QImage addBitmap() {
    return loadBitmap(QStringLiteral(":/toolkit/pictures/add.bmp"));
}
QImage deleteBitmap() {
    return loadBitmap(QStringLiteral(":/toolkit/pictures/delete.bmp"));
}

QImage whiteTransparent(const QImage& bitmap) {
    QImage image = bitmap.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if ((line[x] & 0xffffff) == 0xffffff)
                line[x] = 0;
    }
    return image;
}

QPixmap addPicture() {
    return QPixmap::fromImage(whiteTransparent(addBitmap()));
}
QPixmap deletePicture() {
    return QPixmap::fromImage(whiteTransparent(deleteBitmap()));
}

} // namespace toolkit

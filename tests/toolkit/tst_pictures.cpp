#include "toolkit/Pictures.h"

#include <QApplication>
#include <QtTest>

// The button pictures are what the editor's six buttons and the help text show; a broken
// resource or a lost transparency would show as an empty or white-boxed button.
class TestPictures : public QObject {
    Q_OBJECT
private slots:
    void bitmapsAre16By16In24BitColour_data();
    void bitmapsAre16By16In24BitColour();
    void whiteIsTransparentAndTheShapeIsOpaque_data();
    void whiteIsTransparentAndTheShapeIsOpaque();
    void addIsAnOutlinedOrangePlus();
    void deleteIsAnOutlinedRedCross();
};

namespace {

bool near(QColor c, int r, int g, int b, int tolerance) {
    return qAbs(c.red() - r) <= tolerance && qAbs(c.green() - g) <= tolerance &&
           qAbs(c.blue() - b) <= tolerance;
}

int countColour(const QImage& image, QRgb rgb) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += (image.pixel(x, y) & 0xffffff) == (rgb & 0xffffff);
    return n;
}

} // namespace

void TestPictures::bitmapsAre16By16In24BitColour_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("add") << ":/toolkit/pictures/add.bmp";
    QTest::newRow("delete") << ":/toolkit/pictures/delete.bmp";
}

void TestPictures::bitmapsAre16By16In24BitColour() {
    QFETCH(QString, path);
    toolkit::addBitmap(); // registers the resources
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bmp = file.readAll();
    QVERIFY(bmp.startsWith("BM"));
    // Bits per pixel in the file's info header.
    QCOMPARE(quint8(bmp.at(28)) | quint8(bmp.at(29)) << 8, 24);
    const QImage image(path);
    QCOMPARE(image.size(), QSize(16, 16));
    QCOMPARE(toolkit::addBitmap().depth(), 24);
    QCOMPARE(toolkit::deleteBitmap().size(), QSize(16, 16));
}

void TestPictures::whiteIsTransparentAndTheShapeIsOpaque_data() {
    QTest::addColumn<bool>("add");
    QTest::newRow("add") << true;
    QTest::newRow("delete") << false;
}

void TestPictures::whiteIsTransparentAndTheShapeIsOpaque() {
    QFETCH(bool, add);
    const QImage bitmap = add ? toolkit::addBitmap() : toolkit::deleteBitmap();
    const QPixmap pixmap = add ? toolkit::addPicture() : toolkit::deletePicture();
    QCOMPARE(pixmap.size(), QSize(16, 16));
    QVERIFY(pixmap.hasAlphaChannel());
    const QImage shown = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    int white = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const bool isWhite = bitmap.pixelColor(x, y) == QColor(Qt::white);
            white += isWhite;
            QCOMPARE(qAlpha(shown.pixel(x, y)), isWhite ? 0 : 255);
            if (!isWhite)
                QCOMPARE(shown.pixel(x, y) & 0xffffff, bitmap.pixel(x, y) & 0xffffff);
        }
    // Corners are background, the centre is the shape; both kinds are plentiful.
    QCOMPARE(qAlpha(shown.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(shown.pixel(15, 15)), 0);
    QCOMPARE(qAlpha(shown.pixel(8, 8)), 255);
    QVERIFY(white > 40 && white < 200);
}

void TestPictures::addIsAnOutlinedOrangePlus() {
    const QImage image = toolkit::addBitmap();
    QVERIFY(countColour(image, qRgb(187, 94, 0)) > 20);
    QVERIFY(near(image.pixelColor(8, 8), 255, 185, 57, 20));
    // A plus: the arms reach the edges in the middle rows and columns, the diagonals do not.
    QVERIFY(image.pixelColor(8, 1) != QColor(Qt::white));
    QVERIFY(image.pixelColor(1, 8) != QColor(Qt::white));
    QVERIFY(image.pixelColor(14, 8) != QColor(Qt::white));
    QVERIFY(image.pixelColor(8, 14) != QColor(Qt::white));
    QCOMPARE(image.pixelColor(2, 2), QColor(Qt::white));
    QCOMPARE(image.pixelColor(13, 13), QColor(Qt::white));
    // Shaded from yellow (more green) to orange (less).
    QVERIFY(image.pixelColor(6, 6).green() > image.pixelColor(10, 10).green());
}

void TestPictures::deleteIsAnOutlinedRedCross() {
    const QImage image = toolkit::deleteBitmap();
    QVERIFY(countColour(image, qRgb(127, 0, 0)) > 20);
    int fill = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c == QColor(Qt::white) || c == QColor(127, 0, 0))
                continue;
            QVERIFY2(c.green() == 0 && c.blue() == 0 && c.red() >= 208 && c.red() <= 239,
                     qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
            ++fill;
        }
    QVERIFY(fill > 20);
    // A diagonal cross: the diagonals are drawn, the middle of each edge is not.
    QVERIFY(image.pixelColor(3, 3) != QColor(Qt::white));
    QVERIFY(image.pixelColor(12, 3) != QColor(Qt::white));
    QVERIFY(image.pixelColor(3, 12) != QColor(Qt::white));
    QVERIFY(image.pixelColor(12, 12) != QColor(Qt::white));
    QCOMPARE(image.pixelColor(8, 1), QColor(Qt::white));
    QCOMPARE(image.pixelColor(1, 8), QColor(Qt::white));
}

QTEST_MAIN(TestPictures)
#include "tst_pictures.moc"

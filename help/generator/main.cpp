// Draws the help window's instruction picture into the BMP file named on the command line.
// The build runs it on the offscreen platform, with the Tahoma files the project uses.

#include "help/Instructions.h"
#include "toolkit/Form.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.bmp\n", argv[0]);
        return 2;
    }
    toolkit::registerFonts();
    // A picture in some fallback face would look plausible and be wrong: refuse instead.
    if (QFontInfo(toolkit::windowFont()).family() != QLatin1String("Tahoma")) {
        std::fprintf(stderr, "%s: the Tahoma font is not available\n", argv[0]);
        return 1;
    }
    const QImage picture = help::renderInstructions();
    if (!picture.save(QString::fromLocal8Bit(argv[1]), "BMP")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}

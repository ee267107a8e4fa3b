// The bank tool's GIFT reader on arbitrary text: it either reads questions or throws its input
// error, and what it reads becomes our questions without a fault of its own.
#include "formats/Gift.h"
#include "fuzz/TextReaderChecks.h"

#include <QGuiApplication>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Qt's HTML reader, which the texts go through, needs the application object.
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static const bool offscreen = qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(argc, argv);
    (void)offscreen;
    checkTextReader(data, size, bank::readGift);
    return 0;
}

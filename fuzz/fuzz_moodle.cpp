// The bank tool's Moodle XML reader on arbitrary bytes: it either reads questions or throws its
// input error, never hangs on entities, and what it reads fits the field with --lenient.
#include "data/Errors.h"
#include "formats/Encoding.h"
#include "formats/Foreign.h"
#include "formats/MoodleReader.h"

#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Qt's HTML reader, which the texts go through, needs the application object.
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static const bool offscreen = qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(argc, argv);
    (void)offscreen;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        for (const auto& q : bank::importedQuestions(bank::readMoodleXml(bytes), true))
            for (const auto& option : q.question.options) {
                if (bank::textLength(option.text) > bank::kMaxTextLength)
                    std::abort(); // --lenient cuts every text to the field
                if (bank::firstControlCharacter(option.text) >= 0)
                    std::abort(); // no format lets one into the bank
            }
    } catch (const Exception&) {
    }
    return 0;
}

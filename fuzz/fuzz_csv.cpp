// The bank tool's CSV reader on arbitrary bytes: it either reads questions or throws its input
// error, and what it reads writes back to a file that reads the same.
#include "data/Errors.h"
#include "formats/QuestionCsv.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    std::vector<bank::Question> questions;
    try {
        questions = bank::parseQuestions(bytes);
    } catch (const Exception&) {
        return 0;
    }
    try {
        if (bank::parseQuestions(bank::formatQuestions(questions)) != questions)
            std::abort(); // the tool's export would not read back as it was
    } catch (const Exception&) {
        std::abort();
    }
    return 0;
}

// The bank tool's Aiken reader on arbitrary text: it either reads questions or throws its input
// error, and what it reads becomes our questions without a fault of its own.
#include "bank/Aiken.h"
#include "bank/Encoding.h"
#include "bank/Foreign.h"
#include "data/Errors.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const bool lenient : {false, true}) {
        try {
            const bank::ForeignFile file = bank::readAiken(text, lenient);
            for (const auto& q : bank::importedQuestions(file, lenient)) {
                if (lenient && bank::textLength(q.question.text) > bank::kMaxTextLength)
                    std::abort(); // --lenient cuts every text to the field
                if (bank::firstControlCharacter(q.question.text) >= 0)
                    std::abort(); // no format lets one into the bank
            }
        } catch (const Exception&) {
            // --lenient reads on past a faulty question; only a control character in the file
            // refuses it whole
            if (lenient && bank::firstControlCharacter(text) < 0)
                std::abort();
        }
    }
    return 0;
}

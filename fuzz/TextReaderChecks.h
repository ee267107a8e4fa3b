#pragma once

// What every reader of a teacher's text file (GIFT, Aiken) must hold on any input, strict and
// lenient: the questions it reads become ours with texts that fit and carry no control
// character, and only a control character in the file refuses it whole under --lenient.
#include "data/Errors.h"
#include "formats/Encoding.h"
#include "formats/Foreign.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

template <typename Reader>
void checkTextReader(const std::uint8_t* data, std::size_t size, Reader read) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const bool lenient : {false, true}) {
        try {
            const bank::ForeignFile file = read(text, lenient);
            for (const auto& q : bank::importedQuestions(file, lenient)) {
                if (lenient && bank::textLength(q.question.text) > bank::kMaxTextLength)
                    std::abort(); // --lenient cuts every text to the field
                if (bank::firstControlCharacter(q.question.text) >= 0)
                    std::abort(); // no format lets one into the bank
            }
        } catch (const Exception&) {
            if (lenient && bank::firstControlCharacter(text) < 0)
                std::abort();
        }
    }
}

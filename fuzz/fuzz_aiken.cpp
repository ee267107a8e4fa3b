// The bank tool's Aiken reader on arbitrary text: it either reads questions or throws its input
// error, and what it reads becomes our questions without a fault of its own.
#include "formats/Aiken.h"
#include "fuzz/TextReaderChecks.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkTextReader(data, size, bank::readAiken);
    return 0;
}

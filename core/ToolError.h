#pragma once

#include "data/Errors.h"

#include <QString>
#include <vector>

namespace bank {

// A failure of the tool itself: a file that cannot be read or written, a wrong command line.
class EToolError : public Exception {
public:
    explicit EToolError(const QString& message);
};

// Questions to import whose text a question of the bank already has: importing a file twice
// would double them. Blank texts are not compared.
class EDuplicateQuestions : public EToolError {
public:
    explicit EDuplicateQuestions(std::vector<size_t> indexes);
    const std::vector<size_t>& indexes() const { return indexes_; } // into the imported list

private:
    std::vector<size_t> indexes_;
};

} // namespace bank

#include "core/ToolError.h"

namespace bank {

EToolError::EToolError(const QString& message) : Exception(message) {}

EDuplicateQuestions::EDuplicateQuestions(std::vector<size_t> indexes)
    : EToolError(QStringLiteral("в банке уже есть вопросы с тем же текстом")),
      indexes_(std::move(indexes)) {}

} // namespace bank

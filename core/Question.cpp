#include "core/Question.h"

namespace bank {

int textLength(const QString& text) {
    int length = 0;
    for (const QChar c : text)
        if (!c.isLowSurrogate())
            ++length;
    return length;
}

} // namespace bank

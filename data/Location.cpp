#include "data/Location.h"

#include <QFileInfo>
#include <QUrl>

namespace data {

Location::Location(const QString& text)
    : text_(text), server_(text.startsWith(QLatin1String("postgresql://")) ||
                           text.startsWith(QLatin1String("postgres://"))) {}

QString Location::name() const {
    if (server_) {
        const QString path = QUrl(text_).path();
        return path.mid(path.lastIndexOf(u'/') + 1);
    }
    const QFileInfo file(text_);
    return file.completeBaseName().isEmpty() ? file.fileName() : file.completeBaseName();
}

} // namespace data

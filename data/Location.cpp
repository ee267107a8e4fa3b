#include "data/Location.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QUrlQuery>

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

QString Location::shown() const {
    if (!server_)
        return QDir::toNativeSeparators(text_);
    QUrl url(text_);
    // A URI Qt cannot read may still hold a password: shown by its database's name alone.
    if (!url.isValid())
        return name();
    QUrlQuery query(url);
    query.removeAllQueryItems(QStringLiteral("password"));
    url.setQuery(query);
    return url.toString(QUrl::RemovePassword);
}

} // namespace data

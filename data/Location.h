#pragma once

#include <QString>

namespace data {

// Where a bank (or a journal) is: a file's path, relative to the working directory, or a
// server's libpq connection URI. Told apart here and nowhere else.
class Location {
public:
    explicit Location(const QString& text);

    bool isServer() const { return server_; }
    bool isFile() const { return !server_; }
    // As the user gave it: the path or the URI.
    const QString& text() const { return text_; }
    // The database's name on a server, the file's base name otherwise; for titles and messages.
    QString name() const;
    // For the user's eyes (titles, status lines): a file's path in the platform's form, a URI
    // without its password.
    QString shown() const;

private:
    QString text_;
    bool server_;
};

} // namespace data

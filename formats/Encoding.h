#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace bank {

// A text file's contents and the name of the encoding they were read in, for the report.
struct DecodedText {
    QString text;
    QString encoding;
};

// UTF-8 bytes, with or without a byte-order mark, as text. Throws EInputError at the first byte
// that is not well-formed UTF-8 (overlong forms, surrogates and code points above U+10FFFF
// included), placed by line and character; hint ends its message.
QString decodeUtf8(const QByteArray& bytes, const QString& hint);

// A teacher's file as text: in the encoding named (any name the system knows, such as
// "windows-1251" or "koi8-r") when one is; otherwise UTF-8, or Windows-1251 when the bytes are
// not UTF-8 but decode in it into Cyrillic text, as a Russian-locale spreadsheet or text editor
// saves them. Throws EInputError for what is neither, and EToolError for an unknown name.
DecodedText decodeInput(const QByteArray& bytes, const QString& encoding, const QString& hint);

// The line of a file's text that starts at at, without its end, and at moved past it; false
// past the last line. CRLF, LF and a lone CR each end a line, as the readers count them.
bool nextLine(QStringView text, qsizetype& at, QStringView& line);

// The one rule for what a teacher's file of any format may hold: no control character but tab
// and the line breaks (C0 but tab, line feed and carriage return; DEL; C1). The first one found,
// or -1.
qsizetype firstControlCharacter(QStringView text);
// Why a text with the character c, a control character, is refused.
QString controlCharacterMessage(QChar c);
// Throws EInputError at the first control character of a file's text, placed by line and
// character as the readers count them.
void refuseControlCharacters(QStringView text);

} // namespace bank

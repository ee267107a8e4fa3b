#pragma once

#include "formats/QuestionCsv.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace bank {

// How a foreign file's text is written, as Moodle tells its formats apart.
enum class TextFormat { Html, Markdown, Plain };

// A text as plain text: HTML (Moodle's own auto-format included) or Markdown through Qt's
// readers, which resolve entities, drop tags and marks, turn paragraphs and breaks into line
// breaks; the ends trimmed. Pictures and other embedded objects are left out (leftOut then says
// so); nothing the text links to is ever read. Needs a QGuiApplication, as Qt's HTML reader does.
QString plainText(const QString& text, TextFormat format, bool* leftOut);

// A question (GIFT, Aiken) or a text (Moodle XML) longer than this is no question a test asks:
// reading it on would only multiply an untrusted file in memory, so it is refused.
constexpr qsizetype kMaxForeignText = 1 << 20;

struct ForeignAnswer {
    QString text;
    bool correct = false;
    QString feedback;
};

// One question as a Moodle XML, GIFT or Aiken file holds it, its texts plain, line breaks kept.
struct ForeignItem {
    QString name;  // its title, when the file gives one
    QString place; // where it is in the file, as a message names it: "строка 12"
    QString text;
    std::vector<ForeignAnswer> answers;
    QString generalFeedback;
    bool leftOut = false; // pictures or files were dropped from it
};

struct ForeignFile {
    std::vector<ForeignItem> items;
    QStringList skipped; // questions of a kind the quiz cannot ask: "строка 3 «…»: эссе"
    QStringList broken;  // with lenient, those it could not read: "строка 9: ..."
    QStringList ignored; // what no question of ours carries: categories, titles, comments
};

// One of our questions from a foreign file, with what the import has to say about it.
struct ImportedQuestion {
    Question question;
    QString place;
    QStringList faults; // what refuses it: other than four options, no single correct one ...
    QStringList notes;  // what is only said: no explanations, pictures left out, texts cut
};

// The items as our questions. The two items our exports write for a question (the answer and
// the request for its explanation) become one again. Otherwise the explanations are the
// answers' feedback in the answers' order, or without any the general feedback alone; line
// breaks become spaces, since the testing window shows each text on one line. A text over the
// field's length is a fault, or with cutLong cut to it and noted.
std::vector<ImportedQuestion> importedQuestions(const ForeignFile& file, bool cutLong);

// The name and the text of the item our exports write to ask for a question's explanation.
QString explanationItemName(const QString& name);
QString explanationItemText(const QString& questionText);

} // namespace bank

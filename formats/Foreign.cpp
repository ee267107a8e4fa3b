#include "formats/Foreign.h"

#include "core/StoredBank.h"

#include <QRegularExpression>
#include <QTextDocument>
#include <QUrl>
#include <algorithm>

namespace bank {

namespace {

// Qt's document would load what a picture or a style sheet links to, local files included;
// a file from elsewhere must not make us read anything.
class TextOnlyDocument : public QTextDocument {
protected:
    QVariant loadResource(int, const QUrl&) override { return {}; }
};

QString oneLine(const QString& text) {
    QString line = text;
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    line.replace(u'\r', u' ');
    line.replace(u'\n', u' ');
    line.replace(QChar::LineSeparator, u' ');
    line.replace(QChar::ParagraphSeparator, u' ');
    return line;
}

// The first length characters, never cutting a surrogate pair.
QString cutTo(const QString& text, int length) {
    qsizetype end = 0;
    for (int k = 0; k < length && end < text.size(); ++k)
        end += text.at(end).isHighSurrogate() && end + 1 < text.size() ? 2 : 1;
    return text.left(end);
}

int correctCount(const std::vector<Choice>& choices) {
    return int(
        std::count_if(choices.cbegin(), choices.cend(), [](const Choice& c) { return c.correct; }));
}

void checkChoices(const std::vector<Choice>& choices, const char* one, const char* few,
                  const char* many, const QString& genitive, ImportedQuestion& q) {
    if (choices.size() != size_t(kChoicesPerQuestion))
        q.faults << QStringLiteral("%1, а нужно ровно %2")
                        .arg(plural(qint64(choices.size()), one, few, many))
                        .arg(kChoicesPerQuestion);
    if (const int correct = correctCount(choices); correct != 1)
        q.faults << QStringLiteral("верными отмечены %1 из %2 %3, а нужен ровно один")
                        .arg(correct)
                        .arg(choices.size())
                        .arg(genitive);
}

// Makes one text fit the field, or says it does not.
void fitText(QString& text, const QString& what, bool cutLong, ImportedQuestion& q) {
    text = oneLine(text);
    const int length = textLength(text);
    if (length <= kMaxTextLength)
        return;
    if (cutLong) {
        text = cutTo(text, kMaxTextLength);
        q.notes << QStringLiteral("%1 сокращён с %2 до %3 символов")
                       .arg(what)
                       .arg(length)
                       .arg(kMaxTextLength);
    } else {
        q.faults << QStringLiteral("%1 длиннее %2 символов (%3)")
                        .arg(what)
                        .arg(kMaxTextLength)
                        .arg(length);
    }
}

std::vector<Choice> choicesOf(const std::vector<ForeignAnswer>& answers) {
    std::vector<Choice> choices;
    for (const ForeignAnswer& a : answers)
        choices.push_back({a.text, a.correct});
    return choices;
}

ImportedQuestion fromItem(const ForeignItem& item, const ForeignItem* explanations, bool cutLong) {
    ImportedQuestion q;
    q.place = item.place;
    q.question.text = item.text;
    q.question.options = choicesOf(item.answers);
    if (explanations) {
        q.question.explanations = choicesOf(explanations->answers);
    } else if (std::any_of(item.answers.cbegin(), item.answers.cend(),
                           [](const ForeignAnswer& a) { return !a.feedback.isEmpty(); })) {
        for (const ForeignAnswer& a : item.answers)
            q.question.explanations.push_back({a.feedback, a.correct});
    } else if (!item.generalFeedback.isEmpty()) {
        q.question.explanations.push_back({item.generalFeedback, true});
    }
    if (item.leftOut || (explanations && explanations->leftOut))
        q.notes << QStringLiteral("картинки и файлы не перенесены");

    fitText(q.question.text, QStringLiteral("текст вопроса"), cutLong, q);
    for (size_t k = 0; k < q.question.options.size(); ++k)
        fitText(q.question.options[k].text, QStringLiteral("текст варианта ответа %1").arg(k + 1),
                cutLong, q);
    for (size_t k = 0; k < q.question.explanations.size(); ++k)
        fitText(q.question.explanations[k].text, QStringLiteral("текст пояснения %1").arg(k + 1),
                cutLong, q);
    checkChoices(q.question.options, "вариант ответа", "варианта ответа", "вариантов ответа",
                 QStringLiteral("вариантов ответа"), q);
    if (q.question.explanations.empty())
        q.notes << QStringLiteral("нужны пояснения");
    else
        checkChoices(q.question.explanations, "пояснение", "пояснения", "пояснений",
                     QStringLiteral("пояснений"), q);
    return q;
}

} // namespace

QString plainText(const QString& text, TextFormat format, bool* leftOut) {
    if (format == TextFormat::Plain)
        return text;
    TextOnlyDocument document;
    if (format == TextFormat::Markdown) {
        document.setMarkdown(text);
    } else {
        // A browser reads "<" before anything but a tag's name as the character itself ("a < b",
        // "<  >"), while Qt's reader would drop it with what follows as an unknown tag.
        static const QRegularExpression bareLess(QStringLiteral("<(?![A-Za-z/!?])"));
        document.setHtml(QString(text).replace(bareLess, QStringLiteral("&lt;")));
    }
    QString plain = document.toPlainText();
    if (plain.contains(QChar::ObjectReplacementCharacter)) {
        plain.remove(QChar::ObjectReplacementCharacter);
        if (leftOut)
            *leftOut = true;
    }
    return plain.trimmed();
}

QString explanationItemName(const QString& name) {
    return name + QStringLiteral(" (пояснение)");
}

QString explanationItemText(const QString& questionText) {
    return questionText + QStringLiteral("\n\nВыберите верное пояснение ответа.");
}

std::vector<ImportedQuestion> importedQuestions(const ForeignFile& file, bool cutLong) {
    std::vector<ImportedQuestion> questions;
    const std::vector<ForeignItem>& items = file.items;
    for (size_t i = 0; i < items.size(); ++i) {
        const bool pair = i + 1 < items.size() && !items[i].name.isEmpty() &&
                          items[i + 1].name == explanationItemName(items[i].name) &&
                          items[i + 1].text == explanationItemText(items[i].text);
        questions.push_back(fromItem(items[i], pair ? &items[i + 1] : nullptr, cutLong));
        if (pair)
            ++i;
    }
    return questions;
}

} // namespace bank

#include "formats/Moodle.h"

#include "formats/Csv.h"
#include "formats/Foreign.h"

#include <QXmlStreamWriter>
#include <algorithm>

namespace bank {

namespace {

// XML 1.0 allows tab, line feed, carriage return and everything from the space on, except
// lone surrogates and U+FFFE / U+FFFF.
bool fitsXml(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate()) {
            if (i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate())
                return false;
            ++i;
            continue;
        }
        if (c.isLowSurrogate() || c == QChar(0xFFFE) || c == QChar(0xFFFF))
            return false;
        if (c.unicode() < 0x20 && c != u'\t' && c != u'\n' && c != u'\r')
            return false;
    }
    return true;
}

class Writer {
public:
    explicit Writer(QByteArray* out) : xml_(out) { xml_.setAutoFormatting(true); }

    void run(const std::vector<Question>& questions, const QString& category) {
        xml_.writeStartDocument();
        xml_.writeStartElement(QStringLiteral("quiz"));
        xml_.writeStartElement(QStringLiteral("question"));
        xml_.writeAttribute(QStringLiteral("type"), QStringLiteral("category"));
        xml_.writeStartElement(QStringLiteral("category"));
        text(QStringLiteral("$course$/top/") + category, 0);
        xml_.writeEndElement();
        xml_.writeEndElement();

        const int width = int(QString::number(questions.size()).size());
        for (size_t i = 0; i < questions.size(); ++i) {
            const Question& q = questions[i];
            const int number = int(i) + 1;
            current_ = number;
            const QString name =
                QStringLiteral("Вопрос %1").arg(number, width, 10, QLatin1Char('0'));
            item(name, q.text, q.options);
            item(explanationItemName(name), explanationItemText(q.text), q.explanations);
        }
        xml_.writeEndElement();
        xml_.writeEndDocument();
    }

private:
    void text(const QString& value, int question) {
        if (!fitsXml(value))
            throw EToolError(QStringLiteral("в тексте вопроса %1 есть управляющий символ, "
                                            "недопустимый в XML; исправьте текст в редакторе")
                                 .arg(question));
        // An XML reader turns a carriage return written as it is into a line feed; written as
        // a character reference it reads back as itself.
        xml_.writeStartElement(QStringLiteral("text"));
        const QStringList pieces = value.split(u'\r');
        for (qsizetype i = 0; i < pieces.size(); ++i) {
            if (i > 0)
                xml_.writeEntityReference(QStringLiteral("#13"));
            xml_.writeCharacters(pieces[i]);
        }
        xml_.writeEndElement();
    }

    void formatted(const QString& element, const QString& value) {
        xml_.writeStartElement(element);
        xml_.writeAttribute(QStringLiteral("format"), QStringLiteral("plain_text"));
        text(value, current_);
        xml_.writeEndElement();
    }

    void item(const QString& name, const QString& question, const std::vector<Choice>& choices) {
        xml_.writeStartElement(QStringLiteral("question"));
        xml_.writeAttribute(QStringLiteral("type"), QStringLiteral("multichoice"));
        xml_.writeStartElement(QStringLiteral("name"));
        text(name, current_);
        xml_.writeEndElement();
        formatted(QStringLiteral("questiontext"), question);
        formatted(QStringLiteral("generalfeedback"), QString());
        xml_.writeTextElement(QStringLiteral("defaultgrade"), QStringLiteral("1"));
        xml_.writeTextElement(QStringLiteral("penalty"), QStringLiteral("0"));
        xml_.writeTextElement(QStringLiteral("hidden"), QStringLiteral("0"));
        xml_.writeTextElement(QStringLiteral("single"), QStringLiteral("true"));
        // The quiz shows the choices in the bank's order; so does the exported item.
        xml_.writeTextElement(QStringLiteral("shuffleanswers"), QStringLiteral("0"));
        xml_.writeTextElement(QStringLiteral("answernumbering"), QStringLiteral("abc"));
        for (const Choice& choice : choices) {
            xml_.writeStartElement(QStringLiteral("answer"));
            xml_.writeAttribute(QStringLiteral("fraction"),
                                choice.correct ? QStringLiteral("100") : QStringLiteral("0"));
            xml_.writeAttribute(QStringLiteral("format"), QStringLiteral("plain_text"));
            text(choice.text, current_);
            formatted(QStringLiteral("feedback"), QString());
            xml_.writeEndElement();
        }
        xml_.writeEndElement();
    }

    QXmlStreamWriter xml_;
    int current_ = 0;
};

} // namespace

QStringList moodleProblems(const Question& question) {
    QStringList problems;
    if (question.text.trimmed().isEmpty())
        problems << QStringLiteral("нет текста вопроса");
    auto check = [&](const std::vector<Choice>& choices, const QString& noun,
                     const QString& genitivePlural) {
        if (choices.size() < 2)
            problems << QStringLiteral("%1 меньше двух").arg(genitivePlural);
        if (std::none_of(choices.cbegin(), choices.cend(),
                         [](const Choice& c) { return c.correct; }))
            problems << QStringLiteral("нет верного %1").arg(noun);
        for (size_t k = 0; k < choices.size(); ++k)
            if (choices[k].text.trimmed().isEmpty())
                problems << QStringLiteral("пустой текст %1 %2").arg(noun).arg(k + 1);
    };
    check(question.options, QStringLiteral("варианта ответа"), QStringLiteral("вариантов ответа"));
    check(question.explanations, QStringLiteral("пояснения"), QStringLiteral("пояснений"));
    return problems;
}

QByteArray moodleXml(const std::vector<Question>& questions, const QString& category) {
    QByteArray out;
    Writer(&out).run(questions, category);
    return out;
}

} // namespace bank

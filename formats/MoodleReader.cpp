#include "formats/MoodleReader.h"

#include "core/StoredBank.h"
#include "formats/Csv.h"
#include "formats/Encoding.h"

#include <QBuffer>
#include <QXmlStreamReader>
#include <cmath>

namespace bank {

namespace {

const QString kMultichoice = QStringLiteral("multichoice");
const QString kTrueFalse = QStringLiteral("truefalse");
const QString kPlainText = QStringLiteral("plain_text");

// What Moodle calls the kinds of questions the quiz cannot ask, for the list of skipped ones.
QString kindName(const QString& type) {
    static const std::pair<const char*, const char*> names[] = {
        {"shortanswer", "короткий ответ"},    {"essay", "эссе"},
        {"matching", "на соответствие"},      {"numerical", "числовой ответ"},
        {"cloze", "вложенные ответы"},        {"multianswer", "вложенные ответы"},
        {"description", "описание"},          {"calculated", "вычисляемый"},
        {"ddwtos", "перетаскивание в текст"}, {"gapselect", "выбор пропущенных слов"},
    };
    for (const auto& [type_, name] : names)
        if (type == QLatin1String(type_))
            return QString::fromUtf8(name);
    return type.isEmpty() ? QStringLiteral("без типа") : QStringLiteral("тип «%1»").arg(type);
}

class Reader {
public:
    // Through a device the reader decodes the file piece by piece, not all of it at once.
    explicit Reader(const QByteArray& bytes) {
        buffer_.setData(bytes);
        buffer_.open(QIODevice::ReadOnly);
        xml_.setDevice(&buffer_);
    }

    ForeignFile run() {
        // The document type declaration comes before the root, so it is met before anything
        // it declares could be used.
        while (!xml_.atEnd() && xml_.readNext() != QXmlStreamReader::StartElement) {
            if (xml_.tokenType() == QXmlStreamReader::DTD)
                fail(QStringLiteral("в файле есть объявление типа документа (<!DOCTYPE>); файлам "
                                    "вопросов Moodle оно не нужно, и такой файл не читается"));
        }
        checkError();
        if (xml_.atEnd())
            fail(QStringLiteral("файл пуст: в нём нет вопросов Moodle XML"));
        if (xml_.name() != QLatin1String("quiz"))
            fail(QStringLiteral("это не файл вопросов Moodle XML: он начинается с <%1>, а не с "
                                "<quiz>")
                     .arg(xml_.name().toString()));
        while (xml_.readNextStartElement()) {
            if (xml_.name() == QLatin1String("question"))
                question();
            else
                xml_.skipCurrentElement();
        }
        checkError();
        return std::move(file_);
    }

private:
    struct Text {
        QString text;
        bool leftOut = false;
    };

    [[noreturn]] void fail(const QString& detail) {
        throw EInputError(detail, int(xml_.lineNumber()), int(xml_.columnNumber()));
    }

    void checkError() {
        if (xml_.hasError()) {
            QString why = xml_.errorString();
            while (why.endsWith(u'.'))
                why.chop(1);
            fail(QStringLiteral("файл не читается как XML: %1").arg(why));
        }
    }

    // The current element's format, or as Moodle has it the question text's for an answer or a
    // feedback without one.
    QString formatOr(const QString& defaultFormat) const {
        const QString format = xml_.attributes().value(QLatin1String("format")).toString();
        return format.isEmpty() ? defaultFormat : format;
    }

    // An element holding <text> and maybe <file>s, its text made plain as its format says.
    Text formatted(const QString& defaultFormat) {
        const QString format = formatOr(defaultFormat);
        Text result;
        QString raw;
        while (xml_.readNextStartElement()) {
            if (xml_.name() == QLatin1String("text")) {
                raw = elementText();
            } else {
                if (xml_.name() == QLatin1String("file"))
                    result.leftOut = true;
                xml_.skipCurrentElement();
            }
        }
        result.text = plain(raw, format, result.leftOut);
        return result;
    }

    // The text of the current element, which holds nothing else; one longer than any question
    // of a test is refused before it is copied.
    QString elementText() {
        QString text;
        while (xml_.readNext() == QXmlStreamReader::Characters ||
               xml_.tokenType() == QXmlStreamReader::Comment ||
               xml_.tokenType() == QXmlStreamReader::ProcessingInstruction) {
            if (xml_.tokenType() != QXmlStreamReader::Characters)
                continue;
            if (text.size() + xml_.text().size() > kMaxForeignText)
                fail(QStringLiteral("текст длиннее %1 символов: такого вопроса тест не задаёт")
                         .arg(kMaxForeignText));
            text += xml_.text();
        }
        checkError();
        if (xml_.tokenType() != QXmlStreamReader::EndElement)
            fail(QStringLiteral("в элементе <%1> ожидается только текст")
                     .arg(xml_.name().toString()));
        return text;
    }

    QString plain(const QString& raw, const QString& format, bool& leftOut) {
        // html, moodle_auto_format and any other name are HTML
        const QString text = plainText(raw,
                                       format == kPlainText                  ? TextFormat::Plain
                                       : format == QLatin1String("markdown") ? TextFormat::Markdown
                                                                             : TextFormat::Html,
                                       &leftOut);
        // A character reference, of XML or of HTML, can spell what a file may not hold.
        for (const QString* t : {&raw, &text})
            if (const qsizetype bad = firstControlCharacter(*t); bad >= 0)
                fail(controlCharacterMessage(t->at(bad)));
        return text;
    }

    void question() {
        const QString type = xml_.attributes().value(QLatin1String("type")).toString();
        const int line = int(xml_.lineNumber());
        ForeignItem item;
        textFormat_ = QStringLiteral("html");
        QString category;
        QString single = QStringLiteral("true");
        while (xml_.readNextStartElement()) {
            const auto name = xml_.name();
            if (name == QLatin1String("name")) {
                item.name = formatted(kPlainText).text;
            } else if (name == QLatin1String("category")) {
                category = formatted(kPlainText).text;
            } else if (name == QLatin1String("questiontext")) {
                textFormat_ = formatOr(QStringLiteral("html"));
                const Text text = formatted(textFormat_);
                item.text = text.text;
                item.leftOut = item.leftOut || text.leftOut;
            } else if (name == QLatin1String("single")) {
                single = elementText().trimmed();
            } else if (name == QLatin1String("generalfeedback")) {
                item.generalFeedback = formatted(textFormat_).text;
            } else if (name == QLatin1String("answer")) {
                item.answers.push_back(answer(type == kTrueFalse, item.leftOut));
            } else {
                xml_.skipCurrentElement();
            }
        }
        const QString named =
            item.name.isEmpty() ? QString() : QStringLiteral(" «%1»").arg(item.name);
        item.place = QStringLiteral("строка %1%2").arg(line).arg(named);
        if (type == QLatin1String("category"))
            file_.ignored << QStringLiteral("категория «%1»").arg(category);
        else if (type == kMultichoice && isMultipleResponse(single))
            file_.skipped << QStringLiteral("%1 %2: выбор нескольких ответов")
                                 .arg(item.place, shown(item.text));
        else if (type == kMultichoice || type == kTrueFalse)
            file_.items.push_back(std::move(item));
        else
            file_.skipped
                << QStringLiteral("%1 %2: %3").arg(item.place, shown(item.text), kindName(type));
    }

    // As Moodle reads <single>: "false", "0" or nothing lets the pupil choose several.
    static bool isMultipleResponse(const QString& single) {
        return single.isEmpty() || single == QLatin1String("false") || single == QLatin1String("0");
    }

    // <answer> holds its text, maybe files, and its own <feedback>.
    ForeignAnswer answer(bool trueFalse, bool& leftOut) {
        ForeignAnswer a;
        const double fraction =
            xml_.attributes().value(QLatin1String("fraction")).toString().toDouble();
        a.correct = std::abs(fraction - 100.0) < 1e-6;
        const QString format = formatOr(textFormat_);
        QString raw;
        while (xml_.readNextStartElement()) {
            if (xml_.name() == QLatin1String("text")) {
                raw = elementText();
            } else if (xml_.name() == QLatin1String("feedback")) {
                const Text feedback = formatted(textFormat_);
                a.feedback = feedback.text;
                leftOut = leftOut || feedback.leftOut;
            } else {
                if (xml_.name() == QLatin1String("file"))
                    leftOut = true;
                xml_.skipCurrentElement();
            }
        }
        a.text = plain(raw, format, leftOut);
        if (trueFalse && a.text == QLatin1String("true"))
            a.text = QStringLiteral("Верно");
        else if (trueFalse && a.text == QLatin1String("false"))
            a.text = QStringLiteral("Неверно");
        return a;
    }

    QBuffer buffer_;
    QXmlStreamReader xml_;
    QString textFormat_; // the current question's text's
    ForeignFile file_;
};

} // namespace

ForeignFile readMoodleXml(const QByteArray& bytes) {
    return Reader(bytes).run();
}

} // namespace bank

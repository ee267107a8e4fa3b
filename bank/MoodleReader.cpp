#include "bank/MoodleReader.h"

#include "bank/BankFile.h"
#include "bank/Csv.h"

#include <QXmlStreamReader>
#include <cmath>

namespace bank {

namespace {

const QString kMultichoice = QStringLiteral("multichoice");
const QString kTrueFalse = QStringLiteral("truefalse");

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
    explicit Reader(const QByteArray& bytes) : xml_(bytes) {}

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

    // An element holding <text> and maybe <file>s, its text made plain as its format says.
    Text formatted() {
        const QString format = xml_.attributes().value(QLatin1String("format")).toString();
        Text result;
        QString raw;
        while (xml_.readNextStartElement()) {
            if (xml_.name() == QLatin1String("text")) {
                raw = xml_.readElementText();
            } else {
                if (xml_.name() == QLatin1String("file"))
                    result.leftOut = true;
                xml_.skipCurrentElement();
            }
        }
        result.text = plain(raw, format, result.leftOut);
        return result;
    }

    static QString plain(const QString& raw, const QString& format, bool& leftOut) {
        if (format == QLatin1String("plain_text") || format == QLatin1String("markdown"))
            return raw;
        return htmlToText(raw, &leftOut); // html, moodle_auto_format and the default
    }

    void question() {
        const QString type = xml_.attributes().value(QLatin1String("type")).toString();
        const int line = int(xml_.lineNumber());
        ForeignItem item;
        QString category;
        while (xml_.readNextStartElement()) {
            const auto name = xml_.name();
            if (name == QLatin1String("name")) {
                item.name = formatted().text;
            } else if (name == QLatin1String("category")) {
                category = formatted().text;
            } else if (name == QLatin1String("questiontext")) {
                const Text text = formatted();
                item.text = text.text;
                item.leftOut = item.leftOut || text.leftOut;
            } else if (name == QLatin1String("generalfeedback")) {
                item.generalFeedback = formatted().text;
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
        else if (type == kMultichoice || type == kTrueFalse)
            file_.items.push_back(std::move(item));
        else
            file_.skipped
                << QStringLiteral("%1 %2: %3").arg(item.place, shown(item.text), kindName(type));
    }

    // <answer> holds its text, maybe files, and its own <feedback>.
    ForeignAnswer answer(bool trueFalse, bool& leftOut) {
        ForeignAnswer a;
        const double fraction =
            xml_.attributes().value(QLatin1String("fraction")).toString().toDouble();
        a.correct = std::abs(fraction - 100.0) < 1e-6;
        const QString format = xml_.attributes().value(QLatin1String("format")).toString();
        QString raw;
        while (xml_.readNextStartElement()) {
            if (xml_.name() == QLatin1String("text")) {
                raw = xml_.readElementText();
            } else if (xml_.name() == QLatin1String("feedback")) {
                const Text feedback = formatted();
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

    QXmlStreamReader xml_;
    ForeignFile file_;
};

} // namespace

ForeignFile readMoodleXml(const QByteArray& bytes) {
    return Reader(bytes).run();
}

} // namespace bank

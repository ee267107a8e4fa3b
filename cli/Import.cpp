#include "cli/Import.h"

#include "cli/BankFile.h"
#include "cli/Cli.h"
#include "formats/Aiken.h"
#include "formats/Encoding.h"
#include "formats/Gift.h"
#include "formats/Moodle.h"
#include "formats/MoodleReader.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace bank {

namespace {

enum class Format { Csv, Moodle, Gift, Aiken };

const std::pair<const char*, Format> kFormats[] = {{"csv", Format::Csv},
                                                   {"moodle", Format::Moodle},
                                                   {"gift", Format::Gift},
                                                   {"aiken", Format::Aiken}};

QString formatName(Format format) {
    switch (format) {
    case Format::Csv:
        return QStringLiteral("CSV");
    case Format::Moodle:
        return QStringLiteral("Moodle XML");
    case Format::Gift:
        return QStringLiteral("GIFT");
    case Format::Aiken:
        return QStringLiteral("Aiken");
    }
    return {};
}

// How many questions a refusal names before it says how many more there are.
constexpr int kListedQuestions = 5;

// The format by the file's extension, or else by what it holds.
Format formatOf(const QString& path, const QByteArray& bytes) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("xml"))
        return Format::Moodle;
    if (suffix == QLatin1String("gift"))
        return Format::Gift;
    if (suffix == QLatin1String("csv"))
        return Format::Csv;
    const QString text = QString::fromUtf8(bytes.left(1 << 20));
    const QString start = text.trimmed();
    if (start.startsWith(u'<') || start.startsWith(QChar(0xFEFF) + u'<'))
        return Format::Moodle;
    static const QRegularExpression aiken(QStringLiteral("^\\s*ANSWER:\\s*[A-Z]\\s*$"),
                                          QRegularExpression::MultilineOption);
    if (aiken.match(text).hasMatch())
        return Format::Aiken;
    static const QRegularExpression gift(
        QStringLiteral("\\{\\s*(?:[^}]*[~=]|(?:T|F|TRUE|FALSE)\\s*[#}])"),
        QRegularExpression::CaseInsensitiveOption);
    if (gift.match(text).hasMatch())
        return Format::Gift;
    return Format::Csv;
}

struct Reading {
    Format format = Format::Csv;
    QString encoding;
    std::vector<ImportedQuestion> questions;
    ForeignFile foreign; // its questions already in questions
};

const QString kEncodingHint =
    QStringLiteral("; сохраните его в UTF-8 (из таблицы — как «CSV UTF-8») или назовите его "
                   "кодировку: --encoding windows-1251");

Reading readFile(const QString& path, const ImportOptions& options) {
    QByteArray bytes = readInput(path);
    Reading r;
    if (options.format.isEmpty()) {
        r.format = formatOf(path, bytes);
    } else {
        bool known = false;
        for (const auto& [name, format] : kFormats)
            if (options.format.compare(QLatin1String(name), Qt::CaseInsensitive) == 0) {
                r.format = format;
                known = true;
            }
        if (!known)
            throw EToolError(QStringLiteral("формат «%1» неизвестен; бывают --format csv, "
                                            "moodle, gift и aiken")
                                 .arg(options.format));
    }
    if (r.format == Format::Moodle) {
        if (!options.encoding.isEmpty())
            throw EToolError(QStringLiteral("кодировку файла Moodle XML называет он сам; "
                                            "--encoding к нему не относится"));
        r.encoding = QStringLiteral("по объявлению XML");
        r.foreign = readMoodleXml(bytes);
    } else {
        const DecodedText text = decodeInput(bytes, options.encoding, kEncodingHint);
        bytes = {}; // the text holds it now
        r.encoding = text.encoding;
        if (r.format == Format::Csv) {
            std::vector<int> lines;
            const std::vector<Question> questions = parseQuestionText(text.text, &lines);
            for (size_t i = 0; i < questions.size(); ++i)
                r.questions.push_back(
                    {questions[i], QStringLiteral("строка %1").arg(lines[i]), {}, {}});
            return r;
        }
        r.foreign = r.format == Format::Gift ? readGift(text.text, options.lenient)
                                             : readAiken(text.text, options.lenient);
    }
    r.questions = importedQuestions(r.foreign, options.lenient);
    return r;
}

QString named(const ImportedQuestion& q) {
    return QStringLiteral("%1 %2").arg(q.place, shown(q.question.text));
}

} // namespace

int importFile(const QString& bankPath, const QString& filePath, const ImportOptions& options,
               QIODevice& out, QIODevice& err) {
    Reading r;
    try {
        r = readFile(filePath, options);
    } catch (const EInputError& e) {
        throw EToolError(
            QStringLiteral("%1, %2. В банк ничего не добавлено.").arg(filePath, e.message()));
    }
    writeLine(out, QStringLiteral("Файл «%1» прочитан как %2, кодировка %3.")
                       .arg(filePath, formatName(r.format), r.encoding));
    for (const QString& skipped : r.foreign.skipped)
        writeLine(out, QStringLiteral("Пропущен вопрос, какого тест не задаёт: ") + skipped);
    for (const QString& broken : r.foreign.broken)
        writeLine(out, QStringLiteral("Пропущен неверно записанный вопрос: ") + broken);
    if (!r.foreign.ignored.isEmpty())
        writeLine(out,
                  QStringLiteral("Не перенесены: ") + r.foreign.ignored.join(QLatin1String("; ")));

    int faulty = 0;
    for (const ImportedQuestion& q : r.questions) {
        if (q.faults.isEmpty())
            continue;
        ++faulty;
        const QString line = named(q) + QStringLiteral(": ") + q.faults.join(QLatin1String(", "));
        writeLine(options.lenient ? out : err,
                  options.lenient ? QStringLiteral("Импортирован как есть: ") + line : line);
    }
    if (faulty > 0 && !options.lenient)
        throw EToolError(
            QStringLiteral("%1: %2 не %3 тесту, где у вопроса четыре варианта ответа и "
                           "четыре пояснения, верных по одному (строками выше сказано "
                           "почему). В банк ничего не добавлено; --lenient импортирует их как "
                           "есть, чтобы исправить в редакторе, а check их перечислит.")
                .arg(filePath, plural(faulty, "вопрос", "вопроса", "вопросов"),
                     faulty % 10 == 1 && faulty % 100 != 11 ? QStringLiteral("подходит")
                                                            : QStringLiteral("подходят")));
    for (const ImportedQuestion& q : r.questions)
        for (const QString& note : q.notes)
            writeLine(out, named(q) + QStringLiteral(": ") + note);
    if (r.questions.empty() && r.format != Format::Csv)
        throw EToolError(QStringLiteral("%1: в файле нет вопросов, которые задаёт тест (с "
                                        "выбором одного ответа). В банк ничего не добавлено.")
                             .arg(filePath));

    std::vector<Question> questions;
    for (const ImportedQuestion& q : r.questions)
        questions.push_back(q.question);
    qint64 total = 0;
    try {
        total = importQuestions(bankPath, questions, options.allowDuplicates);
    } catch (const EDuplicateQuestions& e) {
        QStringList list;
        for (size_t i = 0; i < e.indexes().size() && i < size_t(kListedQuestions); ++i)
            list << named(r.questions[e.indexes()[i]]);
        if (e.indexes().size() > size_t(kListedQuestions))
            list << QStringLiteral("и ещё %1").arg(e.indexes().size() - kListedQuestions);
        throw EToolError(
            QStringLiteral("%1: в банке «%2» уже есть %3 с тем же текстом (%4): "
                           "не импортируется ли файл второй раз? В банк ничего не "
                           "добавлено; чтобы добавить всё равно, укажите "
                           "--allow-duplicates.")
                .arg(filePath, bankPath,
                     plural(qint64(e.indexes().size()), "вопрос", "вопроса", "вопросов"),
                     list.join(QLatin1String(", "))));
    }
    writeLine(out, QStringLiteral("Добавлено вопросов: %1; теперь в банке «%2» их %3.")
                       .arg(questions.size())
                       .arg(bankPath)
                       .arg(total));
    return kExitOk;
}

int exportForMoodle(MoodleFormat format, const QString& bankPath, const QString& outPath,
                    bool skipInvalid, QIODevice& out, QIODevice& err) {
    const StoredBank bank = readBank(bankPath);
    const std::vector<Question> all = questionsOf(bank);
    std::vector<Question> questions;
    QStringList invalid;
    for (size_t i = 0; i < all.size(); ++i) {
        const QStringList why = moodleProblems(all[i]);
        if (why.isEmpty())
            questions.push_back(all[i]);
        else
            invalid << QStringLiteral("%1: %2").arg(questionLabel(bank.questions[i]),
                                                    why.join(QLatin1String(", ")));
    }
    if (!invalid.isEmpty() && !skipInvalid) {
        for (const QString& line : invalid)
            writeLine(err, line);
        throw EToolError(QStringLiteral("Moodle не примет %1 (строкой выше сказано почему): "
                                        "ничего не выгружено. Исправьте их в редакторе или "
                                        "укажите --skip-invalid, чтобы выгрузить остальные.")
                             .arg(plural(invalid.size(), "вопрос", "вопроса", "вопросов")));
    }
    const QString category = bankName(bankPath);
    writeOutput(outPath, format == MoodleFormat::Xml ? moodleXml(questions, category)
                                                     : giftText(questions, category).toUtf8());
    for (const QString& line : invalid)
        writeLine(err, QStringLiteral("Пропущен: ") + line);
    writeLine(out, QStringLiteral("Выгружено в %1 «%2»: вопросов — %3, заданий по 1 баллу — %4.")
                       .arg(format == MoodleFormat::Xml ? QStringLiteral("Moodle XML")
                                                        : QStringLiteral("GIFT"),
                            outPath)
                       .arg(questions.size())
                       .arg(questions.size() * 2));
    if (!invalid.isEmpty())
        writeLine(out, QStringLiteral("Пропущено вопросов: %1.").arg(invalid.size()));
    return kExitOk;
}

} // namespace bank

#include "bank/BankFile.h"

#include "bank/Csv.h"
#include "data/Schema.h"
#include "data/Sqlite.h"

#include <QFile>
#include <QFileInfo>
#include <map>
#include <memory>

namespace bank {

using data::sqlite::Database;
using data::sqlite::Statement;
using data::sqlite::Transaction;

namespace {

// Another program (the quiz itself) may be writing to the bank for a moment.
constexpr int kBusyTimeoutMs = 5000;

std::unique_ptr<Database> openExisting(const QString& path, Database::Mode mode) {
    const QFileInfo info(path);
    if (!info.exists())
        throw EToolError(QStringLiteral("файла «%1» нет").arg(path));
    if (info.isDir())
        throw EToolError(QStringLiteral("«%1» — папка, а не файл банка").arg(path));
    auto db = std::make_unique<Database>(path, mode);
    db->setBusyTimeout(kBusyTimeoutMs);
    return db;
}

qint64 scalar(const Database& db, const QString& sql) {
    Statement st(db, sql);
    st.step();
    return st.columnInt(0);
}

QString plural(qint64 n, const char* one, const char* few, const char* many) {
    const qint64 tens = n % 100, units = n % 10;
    const char* word = many;
    if (tens < 11 || tens > 14) {
        if (units == 1)
            word = one;
        else if (units >= 2 && units <= 4)
            word = few;
    }
    return QStringLiteral("%1 %2").arg(n).arg(QString::fromUtf8(word));
}

QString textOf(const QVariant& value) {
    if (value.typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(value.toByteArray());
    return value.toString();
}

// A text as a problem line quotes it: on one line, shortened.
QString shown(const QVariant& value) {
    if (value.isNull())
        return QStringLiteral("(NULL)");
    QString text = textOf(value).simplified();
    constexpr int kShownLength = 60;
    if (text.size() > kShownLength)
        text = text.left(kShownLength - 1) + u'…';
    return u'«' + text + u'»';
}

bool isBlank(const QVariant& value) {
    return value.isNull() || textOf(value).trimmed().isEmpty();
}

std::vector<StoredRow> readRows(const Database& db, const char* table, const char* textColumn) {
    Statement st(db, QStringLiteral("SELECT \"id\", \"Вопрос\", %1, \"Правильный\" FROM %2 "
                                    "ORDER BY \"Вопрос\", rowid")
                         .arg(data::sqlite::quoted(QString::fromUtf8(textColumn)),
                              data::sqlite::quoted(QString::fromUtf8(table))));
    std::vector<StoredRow> rows;
    while (st.step())
        rows.push_back({st.columnInt(0), st.columnValue(1), st.columnValue(2), st.columnValue(3)});
    return rows;
}

struct RowKind {
    const char* table;
    const char* textColumn;
    QString noun;     // "вариант ответа"
    QString genitive; // "варианта ответа"
    QString capital;  // "Вариант ответа"
    QString noneCorrect;
    QString oneNeeded;
};

const RowKind& optionKind() {
    static const RowKind kind{"Т_Вариант",
                              "Ответ",
                              QStringLiteral("вариантов ответа"),
                              QStringLiteral("варианта ответа"),
                              QStringLiteral("Вариант ответа"),
                              QStringLiteral("ни один вариант ответа не отмечен верным"),
                              QStringLiteral("а нужен ровно один")};
    return kind;
}

const RowKind& explanationKind() {
    static const RowKind kind{"Т_Объяснение",
                              "Объяснение",
                              QStringLiteral("пояснений"),
                              QStringLiteral("пояснения"),
                              QStringLiteral("Пояснение"),
                              QStringLiteral("ни одно пояснение не отмечено верным"),
                              QStringLiteral("а нужно ровно одно")};
    return kind;
}

void checkRows(const StoredQuestion& q, const std::vector<StoredRow>& rows, const RowKind& kind,
               QStringList& problems) {
    const QString who = QStringLiteral("Вопрос id %1 %2: ").arg(q.id).arg(shown(q.text));
    if (rows.size() != size_t(kChoicesPerQuestion))
        problems << who + QStringLiteral("%1 %2, а нужно ровно %3")
                              .arg(kind.noun)
                              .arg(rows.size())
                              .arg(kChoicesPerQuestion);
    int correct = 0;
    for (const StoredRow& row : rows)
        if (!row.flag.isNull() && row.flag.toBool())
            ++correct;
    if (correct == 0 && !rows.empty())
        problems << who + kind.noneCorrect;
    else if (correct > 1)
        problems << who + QStringLiteral("верными отмечены %1 из %2 %3, %4")
                              .arg(correct)
                              .arg(rows.size())
                              .arg(kind.noun, kind.oneNeeded);
    for (const StoredRow& row : rows) {
        if (isBlank(row.text))
            problems << who + QStringLiteral("у %1 id %2 %3")
                                  .arg(kind.genitive)
                                  .arg(row.id)
                                  .arg(row.text.isNull() ? QStringLiteral("нет текста (NULL)")
                                                         : QStringLiteral("пустой текст"));
        if (row.flag.isNull())
            problems << who + QStringLiteral("у %1 id %2 %3 не задан флаг «Правильный» (NULL)")
                                  .arg(kind.genitive)
                                  .arg(row.id)
                                  .arg(shown(row.text));
    }
}

void checkStrays(const std::vector<StoredRow>& rows, const RowKind& kind, QStringList& problems) {
    for (const StoredRow& row : rows) {
        const QString who =
            QStringLiteral("%1 id %2 %3 ").arg(kind.capital).arg(row.id).arg(shown(row.text));
        if (row.question.isNull())
            problems << who + QStringLiteral(
                                  "не относится ни к одному вопросу (поле «Вопрос» пусто)");
        else
            problems << who + QStringLiteral("относится к вопросу id %1, которого нет")
                                  .arg(textOf(row.question));
    }
}

} // namespace

void createBank(const QString& path) {
    // Creating the empty file first, exclusively, is what keeps an existing bank safe even
    // when another process makes one under the same name a moment earlier.
    QFile file(path);
    if (QFileInfo::exists(path) || !file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        if (QFileInfo::exists(path))
            throw EToolError(
                QStringLiteral("файл «%1» уже есть; create не перезаписывает файлы").arg(path));
        throw EToolError(
            QStringLiteral("не удаётся создать «%1»: %2").arg(path, file.errorString()));
    }
    file.close();
    try {
        Database db(path, Database::Mode::ReadWrite);
        Transaction tx(db);
        db.exec(data::kBankSchema);
        db.exec(QStringLiteral("PRAGMA application_id = %1")
                    .arg(data::kBankApplicationId)
                    .toUtf8()
                    .constData());
        db.exec(QStringLiteral("PRAGMA user_version = %1")
                    .arg(data::kBankUserVersion)
                    .toUtf8()
                    .constData());
        tx.commit();
    } catch (...) {
        QFile::remove(path);
        throw;
    }
}

qint64 importQuestions(const QString& path, const std::vector<Question>& questions) {
    auto db = openExisting(path, Database::Mode::ReadWrite);
    Transaction tx(*db);
    const qint64 before = scalar(*db, QStringLiteral("SELECT count(*) FROM \"Т_Вопросы\""));
    Statement addQuestion(
        *db, QStringLiteral("INSERT INTO \"Т_Вопросы\" (\"Номер\", \"Вопрос\") VALUES (?, ?)"));
    Statement addOption(
        *db,
        QStringLiteral(
            "INSERT INTO \"Т_Вариант\" (\"Вопрос\", \"Ответ\", \"Правильный\") VALUES (?, ?, ?)"));
    Statement addExplanation(*db,
                             QStringLiteral("INSERT INTO \"Т_Объяснение\" (\"Вопрос\", "
                                            "\"Объяснение\", \"Правильный\") VALUES (?, ?, ?)"));
    auto addRows = [](Statement& st, qint64 questionId, const std::vector<Choice>& choices) {
        for (const Choice& choice : choices) {
            st.reset();
            st.bindInt(1, questionId);
            st.bindText(2, choice.text);
            st.bindInt(3, choice.correct ? 1 : 0);
            st.run();
        }
    };
    qint64 number = before;
    for (const Question& q : questions) {
        addQuestion.reset();
        addQuestion.bindInt(1, ++number);
        addQuestion.bindText(2, q.text);
        addQuestion.run();
        const qint64 id = db->lastInsertRowId();
        addRows(addOption, id, q.options);
        addRows(addExplanation, id, q.explanations);
    }
    tx.commit();
    return number;
}

StoredBank readBank(const QString& path) {
    auto db = openExisting(path, Database::Mode::ReadOnly);
    StoredBank bank;
    {
        Statement st(*db,
                     QStringLiteral(
                         "SELECT \"id\", \"Номер\", \"Вопрос\" FROM \"Т_Вопросы\" ORDER BY rowid"));
        while (st.step()) {
            StoredQuestion q;
            q.id = st.columnInt(0);
            q.number = st.columnValue(1);
            q.text = st.columnValue(2);
            bank.questions.push_back(std::move(q));
        }
    }
    std::map<qint64, size_t> byId;
    for (size_t i = 0; i < bank.questions.size(); ++i)
        byId.emplace(bank.questions[i].id, i);
    auto distribute = [&](const RowKind& kind, auto member, std::vector<StoredRow>& strays) {
        for (StoredRow& row : readRows(*db, kind.table, kind.textColumn)) {
            bool ok = false;
            const qint64 link = row.question.toLongLong(&ok);
            const auto found = ok ? byId.find(link) : byId.end();
            if (found != byId.end())
                (bank.questions[found->second].*member).push_back(std::move(row));
            else
                strays.push_back(std::move(row));
        }
    };
    distribute(optionKind(), &StoredQuestion::options, bank.strayOptions);
    distribute(explanationKind(), &StoredQuestion::explanations, bank.strayExplanations);
    return bank;
}

BankCounts countBank(const QString& path) {
    auto db = openExisting(path, Database::Mode::ReadOnly);
    BankCounts counts;
    counts.questions = scalar(*db, QStringLiteral("SELECT count(*) FROM \"Т_Вопросы\""));
    counts.options = scalar(*db, QStringLiteral("SELECT count(*) FROM \"Т_Вариант\""));
    counts.explanations = scalar(*db, QStringLiteral("SELECT count(*) FROM \"Т_Объяснение\""));
    counts.marked =
        scalar(*db, QStringLiteral("PRAGMA application_id")) == data::kBankApplicationId;
    counts.userVersion = int(scalar(*db, QStringLiteral("PRAGMA user_version")));
    return counts;
}

std::vector<Question> questionsOf(const StoredBank& bank) {
    auto choices = [](const std::vector<StoredRow>& rows) {
        std::vector<Choice> out;
        for (const StoredRow& row : rows)
            out.push_back({textOf(row.text), !row.flag.isNull() && row.flag.toBool()});
        return out;
    };
    std::vector<Question> questions;
    for (const StoredQuestion& q : bank.questions)
        questions.push_back({textOf(q.text), choices(q.options), choices(q.explanations)});
    return questions;
}

QStringList checkBank(const StoredBank& bank) {
    QStringList problems;
    if (bank.questions.size() < size_t(kQuestionsPerTest))
        problems << QStringLiteral("В банке %1, а тест задаёт %2: нужно не меньше %2 вопросов")
                        .arg(plural(qint64(bank.questions.size()), "вопрос", "вопроса", "вопросов"))
                        .arg(kQuestionsPerTest);
    for (const StoredQuestion& q : bank.questions) {
        if (isBlank(q.text))
            problems << QStringLiteral("Вопрос id %1 %2: %3")
                            .arg(q.id)
                            .arg(shown(q.text))
                            .arg(q.text.isNull() ? QStringLiteral("нет текста вопроса (NULL)")
                                                 : QStringLiteral("пустой текст вопроса"));
        checkRows(q, q.options, optionKind(), problems);
        checkRows(q, q.explanations, explanationKind(), problems);
    }
    checkStrays(bank.strayOptions, optionKind(), problems);
    checkStrays(bank.strayExplanations, explanationKind(), problems);
    return problems;
}

QString countsText(qint64 questions, qint64 options, qint64 explanations) {
    return QStringLiteral("%1, %2 ответа, %3")
        .arg(plural(questions, "вопрос", "вопроса", "вопросов"),
             plural(options, "вариант", "варианта", "вариантов"),
             plural(explanations, "пояснение", "пояснения", "пояснений"));
}

} // namespace bank

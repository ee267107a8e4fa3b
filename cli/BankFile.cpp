#include "cli/BankFile.h"

#include "cli/Screen.h"
#include "data/DM.h"
#include "data/Errors.h"
#include "data/Location.h"
#include "data/Schema.h"
#include "data/sqlite/Sqlite.h"
#include "formats/Csv.h"
#include "formats/Encoding.h"
#include "server/Server.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUrl>
#include <map>
#include <memory>
#include <sqlite3.h>

namespace bank {

using data::sqlite::Database;
using data::sqlite::quoted;
using data::sqlite::Statement;
using data::sqlite::Transaction;

namespace {

// Another program (the quiz itself) may be writing to the bank for a moment.
constexpr int kBusyTimeoutMs = 5000;

qint64 scalar(const Database& db, const QString& sql) {
    Statement st(db, sql);
    st.step();
    return st.columnInt(0);
}

// Opens a bank as the program does: nothing the file carries runs. A read-only command that
// meets the journal of a write stopped half-way opens the bank for writing, so that the
// engine puts the file back as it was before that write; without write access it says so.
std::unique_ptr<Database> openExisting(const QString& path, Database::Mode mode) {
    const QFileInfo info(path);
    if (!info.exists())
        throw EToolError(QStringLiteral("файла «%1» нет").arg(path));
    if (info.isDir())
        throw EToolError(QStringLiteral("«%1» — папка, а не файл банка").arg(path));
    auto db = std::make_unique<Database>(path, mode);
    db->distrustContents();
    db->setBusyTimeout(kBusyTimeoutMs);
    try {
        scalar(*db, QStringLiteral("SELECT count(*) FROM sqlite_master"));
    } catch (const EEngineError& e) {
        if (e.code() != SQLITE_READONLY_ROLLBACK)
            throw;
        if (mode == Database::Mode::ReadOnly && info.isWritable() &&
            QFileInfo(info.absolutePath()).isWritable())
            return openExisting(path, Database::Mode::ReadWrite);
        throw EToolError(
            QStringLiteral("банк «%1» недописан: программа, которая в него писала, была "
                           "остановлена посреди записи (рядом лежит её журнал «%1-journal»), а "
                           "вернуть банк к состоянию до этой записи можно только с правом записи "
                           "в файл и его папку. Откройте банк один раз с таким правом (программой "
                           "или командой infotest-bank info) — журнал откатится сам; журнал не "
                           "удаляйте, без него банк останется испорченным")
                .arg(path));
    }
    return db;
}

qint64 rowCount(const Database& db, const QString& table) {
    return scalar(db, QStringLiteral("SELECT count(*) FROM %1").arg(quoted(table)));
}

std::vector<StoredRow> readRows(const Database& db, const QString& table,
                                const QString& textColumn) {
    Statement st(db, QStringLiteral("SELECT %1, %2, %3, %4 FROM %5 ORDER BY %2, rowid")
                         .arg(quoted(data::kIdColumn), quoted(data::kQuestionColumn),
                              quoted(textColumn), quoted(data::kCorrectColumn), quoted(table)));
    std::vector<StoredRow> rows;
    while (st.step())
        rows.push_back({st.columnInt(0), st.columnValue(1), st.columnValue(2), st.columnValue(3)});
    return rows;
}

// A text the testing window cuts off, with how much to cut for it to show whole.
void checkFit(const ScreenFit& screen, const StoredQuestion& q, QStringList& problems) {
    const QString who = questionLabel(q) + QStringLiteral(": ");
    auto cutBy = [&](Place place, const QString& text) {
        const int n = screen.excess(place, text);
        return QStringLiteral("сократите его хотя бы на %1")
            .arg(plural(n, "символ", "символа", "символов"));
    };
    const QString question = textOf(q.text);
    if (!screen.fits(Place::Question, question))
        problems << who + QStringLiteral("текст вопроса шире строки окна тестирования (%1 из %2 "
                                         "пикселей) и будет обрезан; %3")
                              .arg(screen.questionWidth(question))
                              .arg(ScreenFit::questionLabelWidth())
                              .arg(cutBy(Place::Question, question));
    auto checkButtons = [&](const std::vector<StoredRow>& rows, Place place, const RowKind& kind) {
        for (const StoredRow& row : rows) {
            const QString text = textOf(row.text);
            if (screen.fits(place, text))
                continue;
            problems << who + QStringLiteral("%1 id %2 %3 не помещается на кнопке окна "
                                             "тестирования (строк: %4, видно: %5); %6")
                                  .arg(kind.capital.toLower())
                                  .arg(row.id)
                                  .arg(shown(row.text))
                                  .arg(screen.linesNeeded(text))
                                  .arg(screen.linesShown(place, text))
                                  .arg(cutBy(place, text));
        }
    };
    checkButtons(q.options, Place::Option, optionKind());
    checkButtons(q.explanations, Place::Explanation, explanationKind());
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
    if (data::Location(path).isServer())
        return server::createBank(path);
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
        db.exec(data::bankSchema().constData());
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

qint64 importQuestions(const QString& path, const std::vector<Question>& questions,
                       bool allowDuplicates) {
    if (data::Location(path).isServer())
        return server::importQuestions(path, questions, allowDuplicates);
    try {
        checkProgramOpens(path);
    } catch (const EProgramRefuses& e) {
        throw EToolError(e.message() + QStringLiteral(". В банк ничего не добавлено."));
    }
    auto db = openExisting(path, Database::Mode::ReadWrite);
    Transaction tx(*db);
    const qint64 before = rowCount(*db, data::kQuestionTable);
    if (!allowDuplicates) {
        QSet<QString> texts;
        Statement st(*db, QStringLiteral("SELECT %1 FROM %2")
                              .arg(quoted(data::kQuestionColumn), quoted(data::kQuestionTable)));
        while (st.step())
            texts.insert(textOf(st.columnValue(0)));
        if (std::vector<size_t> duplicates = duplicatesOf(texts, questions); !duplicates.empty())
            throw EDuplicateQuestions(std::move(duplicates));
    }
    Statement addQuestion(*db, QStringLiteral("INSERT INTO %1 (%2, %3) VALUES (?, ?)")
                                   .arg(quoted(data::kQuestionTable), quoted(data::kNumberColumn),
                                        quoted(data::kQuestionColumn)));
    const auto addRow = [&](const RowKind& kind) {
        return Statement(*db, QStringLiteral("INSERT INTO %1 (%2, %3, %4) VALUES (?, ?, ?)")
                                  .arg(quoted(kind.table), quoted(data::kQuestionColumn),
                                       quoted(kind.textColumn), quoted(data::kCorrectColumn)));
    };
    Statement addOption = addRow(optionKind());
    Statement addExplanation = addRow(explanationKind());
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

void checkProgramOpens(const QString& path) {
    if (data::Location(path).isServer())
        return; // the server's tables are made by the bank tool alone
    openExisting(path, Database::Mode::ReadOnly);
    try {
        const data::TDataModule2 program(path);
    } catch (const EDatabaseError& e) {
        throw EProgramRefuses(e.message());
    }
}

EProgramRefuses::EProgramRefuses(const QString& why)
    : EToolError(QStringLiteral("программа не откроет этот банк: %1").arg(why)), why_(why) {}

QStringList ignoredObjects(const QString& path) {
    if (data::Location(path).isServer())
        return {};
    auto db = openExisting(path, Database::Mode::ReadOnly);
    QSet<QString> ours;
    for (const char* table : data::kBankTables)
        ours.insert(QString::fromUtf8(table));
    QStringList lines;
    {
        Statement st(*db, QStringLiteral("SELECT name, tbl_name FROM main.sqlite_master WHERE "
                                         "type = 'trigger' ORDER BY name"));
        while (st.step())
            lines << QStringLiteral("Триггер «%1» на «%2»: программа триггеры отключает, он не "
                                    "выполняется")
                         .arg(st.columnText(0), st.columnText(1));
    }
    // table_list tells plain, virtual and shadow tables and views apart; shadow tables belong
    // to a virtual one and are not named.
    Statement st(*db, QStringLiteral("SELECT name, type FROM pragma_table_list WHERE schema = "
                                     "'main' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
                                     "ORDER BY name"));
    while (st.step()) {
        const QString name = st.columnText(0), type = st.columnText(1);
        if (type == QLatin1String("view"))
            lines << QStringLiteral("Представление «%1»: программа представления отключает, "
                                    "оно не используется")
                         .arg(name);
        else if (type == QLatin1String("virtual"))
            lines << QStringLiteral("Виртуальная таблица «%1»: программа её не читает").arg(name);
        else if (type == QLatin1String("table") && !ours.contains(name))
            lines << QStringLiteral("Таблица «%1»: программа её не читает").arg(name);
    }
    return lines;
}

StoredBank readBank(const QString& path) {
    if (data::Location(path).isServer())
        return server::readBank(path);
    auto db = openExisting(path, Database::Mode::ReadOnly);
    std::vector<StoredQuestion> questions;
    Statement st(*db, QStringLiteral("SELECT %1, %2, %3 FROM %4 ORDER BY rowid")
                          .arg(quoted(data::kIdColumn), quoted(data::kNumberColumn),
                               quoted(data::kQuestionColumn), quoted(data::kQuestionTable)));
    while (st.step()) {
        StoredQuestion q;
        q.id = st.columnInt(0);
        q.number = st.columnValue(1);
        q.text = st.columnValue(2);
        questions.push_back(std::move(q));
    }
    return assembleBank(std::move(questions),
                        readRows(*db, data::kOptionTable, data::kOptionColumn),
                        readRows(*db, data::kExplanationTable, data::kExplanationColumn));
}

QString bankName(const QString& bank) {
    return data::Location(bank).name();
}

BankCounts countBank(const QString& path) {
    if (data::Location(path).isServer())
        return server::countBank(path);
    auto db = openExisting(path, Database::Mode::ReadOnly);
    BankCounts counts;
    counts.questions = rowCount(*db, data::kQuestionTable);
    counts.options = rowCount(*db, data::kOptionTable);
    counts.explanations = rowCount(*db, data::kExplanationTable);
    counts.marked =
        scalar(*db, QStringLiteral("PRAGMA application_id")) == data::kBankApplicationId;
    counts.userVersion = int(scalar(*db, QStringLiteral("PRAGMA user_version")));
    return counts;
}

QStringList checkBank(const StoredBank& bank) {
    QStringList problems;
    if (bank.questions.size() < size_t(kQuestionsPerTest))
        problems << QStringLiteral("В банке %1, а тест задаёт %2: нужно не меньше %2 вопросов")
                        .arg(plural(qint64(bank.questions.size()), "вопрос", "вопроса", "вопросов"))
                        .arg(kQuestionsPerTest);
    const ScreenFit screen;
    if (!screen.fontFound())
        problems << QStringLiteral("Нет шрифта Tahoma окон программы (файл "
                                   "/usr/share/wine/fonts/tahoma.ttf из пакета fonts-wine): "
                                   "ширина текстов не проверена; установите пакет");
    for (const StoredQuestion& q : bank.questions) {
        problems << questionProblems(q);
        if (screen.fontFound())
            checkFit(screen, q, problems);
    }
    checkStrays(bank.strayOptions, optionKind(), problems);
    checkStrays(bank.strayExplanations, explanationKind(), problems);
    return problems;
}

QStringList exportProblems(const StoredBank& bank) {
    QStringList problems;
    for (const StoredQuestion& q : bank.questions) {
        QStringList why;
        if (textLength(textOf(q.text)) > kMaxTextLength)
            why << QStringLiteral("текст вопроса длиннее %1 символов").arg(kMaxTextLength);
        if (firstControlCharacter(textOf(q.text)) >= 0)
            why << QStringLiteral("в тексте вопроса управляющий символ");
        auto rows = [&](const std::vector<StoredRow>& list, const RowKind& kind) {
            if (list.size() > size_t(kMaxChoices))
                why << QStringLiteral("%1 больше %2").arg(kind.noun).arg(kMaxChoices);
            for (const StoredRow& row : list)
                if (textLength(textOf(row.text)) > kMaxTextLength)
                    why << QStringLiteral("текст %1 id %2 длиннее %3 символов")
                               .arg(kind.genitive)
                               .arg(row.id)
                               .arg(kMaxTextLength);
            for (const StoredRow& row : list)
                if (firstControlCharacter(textOf(row.text)) >= 0)
                    why << QStringLiteral("в тексте %1 id %2 управляющий символ")
                               .arg(kind.genitive)
                               .arg(row.id);
        };
        rows(q.options, optionKind());
        rows(q.explanations, explanationKind());
        if (!why.isEmpty())
            problems << QStringLiteral("%1: %2; сократите в редакторе")
                            .arg(questionLabel(q), why.join(QLatin1String(", ")));
    }
    return problems;
}

} // namespace bank

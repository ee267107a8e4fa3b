#include "server/Server.h"

#include "data/Schema.h"
#include "data/journal/JournalStore.h"
#include "data/pg/Pg.h"
#include "server/ServerRuns.h"

#include <QSet>

namespace bank::server {

using data::pg::Connection;
using data::pg::Transaction;

namespace {

// The one way a pupil's program writes to the journal: the pupils' role has no rights on its
// tables, so a pupil can neither read others' runs nor change one. It stores a run as the
// journal file does: once per "Код" (false when stored before), each question's copy once
// per fingerprint, whether an answer was right taken from the marks as shown. The run is one
// jsonb object keyed by the columns of "Т_Прохождение", with "Ответы": an array of objects
// {"Отпечаток": hex, "ВопросБанка", "Вопрос", "Варианты": [[text, correct] x N],
//  "Объяснения": [[text, correct] x N], "Вариант": 1..N, "Объяснение": 1..N}, N the choices per
// question.
constexpr const char* kRecordFunctionWithChoices = R"sql(
CREATE OR REPLACE FUNCTION "Записать_прохождение"(run jsonb) RETURNS boolean
LANGUAGE plpgsql SECURITY DEFINER SET search_path = public, pg_temp AS $$
DECLARE
    run_id integer;
    shown_id integer;
    answer jsonb;
    print bytea;
    k integer := 0;
    lock_key bigint;
BEGIN
    IF jsonb_typeof(run->'Ответы') IS DISTINCT FROM 'array' THEN
        RAISE EXCEPTION 'Прохождение %: нет списка ответов', run->>'Код' USING ERRCODE = '22023';
    END IF;
    FOR answer IN SELECT value FROM jsonb_array_elements(run->'Ответы') LOOP
        IF jsonb_array_length(answer->'Варианты') <> %1
           OR jsonb_array_length(answer->'Объяснения') <> %1
           OR (answer->>'Вариант')::integer NOT BETWEEN 1 AND %1
           OR (answer->>'Объяснение')::integer NOT BETWEEN 1 AND %1 THEN
            RAISE EXCEPTION 'Прохождение %: выбран несуществующий вариант', run->>'Код'
                USING ERRCODE = '22023';
        END IF;
    END LOOP;
    INSERT INTO "Т_Прохождение" ("Код", "Начало", "Конец", "Компьютер", "Логин", "ФИО",
        "Ученик", "Баллы", "Оценка", "Завершён", "Отвечено")
    VALUES (run->>'Код', run->>'Начало', run->>'Конец', run->>'Компьютер', run->>'Логин',
        run->>'ФИО', run->>'Ученик', (run->>'Баллы')::integer, (run->>'Оценка')::integer,
        (run->>'Завершён')::boolean, jsonb_array_length(run->'Ответы'))
    ON CONFLICT ("Код") DO NOTHING
    RETURNING "id" INTO run_id;
    IF run_id IS NULL THEN
        RETURN false;
    END IF;
    -- Runs recorded at the same time that share questions would wait for each other's copies
    -- in their answers' orders, which may make a cycle (a deadlock): each copy's fingerprint is
    -- taken for the transaction first, all in one order.
    FOR lock_key IN SELECT DISTINCT hashtextextended(value->>'Отпечаток', 0)
                    FROM jsonb_array_elements(run->'Ответы') ORDER BY 1 LOOP
        PERFORM pg_advisory_xact_lock(lock_key);
    END LOOP;
    FOR answer IN SELECT value FROM jsonb_array_elements(run->'Ответы') LOOP
        k := k + 1;
        print := decode(answer->>'Отпечаток', 'hex');
        INSERT INTO "Т_ПоказанныйВопрос" ("Отпечаток", "ВопросБанка", "Вопрос")
        VALUES (print, (answer->>'ВопросБанка')::integer, answer->>'Вопрос')
        ON CONFLICT ("Отпечаток") DO NOTHING
        RETURNING "id" INTO shown_id;
        IF shown_id IS NULL THEN
            SELECT "id" INTO shown_id FROM "Т_ПоказанныйВопрос" WHERE "Отпечаток" = print;
        ELSE
            INSERT INTO "Т_ПоказанныйВариант" ("Вопрос", "Номер", "Ответ", "Правильный")
            SELECT shown_id, n, c->>0, (c->>1)::boolean
            FROM jsonb_array_elements(answer->'Варианты') WITH ORDINALITY AS t(c, n);
            INSERT INTO "Т_ПоказанноеОбъяснение" ("Вопрос", "Номер", "Объяснение", "Правильный")
            SELECT shown_id, n, c->>0, (c->>1)::boolean
            FROM jsonb_array_elements(answer->'Объяснения') WITH ORDINALITY AS t(c, n);
        END IF;
        INSERT INTO "Т_Ответ" ("Прохождение", "Номер", "Вопрос", "Вариант", "Объяснение",
            "ВариантВерен", "ОбъяснениеВерно")
        VALUES (run_id, k, shown_id, (answer->>'Вариант')::integer,
            (answer->>'Объяснение')::integer,
            (answer->'Варианты'->((answer->>'Вариант')::integer - 1)->>1)::boolean,
            (answer->'Объяснения'->((answer->>'Объяснение')::integer - 1)->>1)::boolean);
    END LOOP;
    PERFORM pg_notify('@CHANNEL@', '');
    RETURN true;
END
$$;
)sql";

QByteArray recordFunction() {
    return QString::fromUtf8(kRecordFunctionWithChoices)
        .arg(data::kChoicesPerQuestion)
        .replace(QLatin1String("@CHANNEL@"), QString::fromUtf8(data::journal::kJournalChannel))
        .toUtf8();
}

QString quoted(const char* name) {
    return data::pg::quoted(QString::fromUtf8(name));
}

template <size_t N> int tablesPresent(const Connection& db, const char* const (&tables)[N]) {
    int present = 0;
    for (const char* table : tables)
        present += db.exec(QStringLiteral("SELECT to_regclass($1) IS NOT NULL"),
                           {QString(QStringLiteral("public.") + quoted(table))})
                       .flag(0, 0);
    return present;
}

// Makes a group of tables when none is there; a complete group is kept. Returns whether made.
template <size_t N>
bool makeTables(const Connection& db, const char* const (&tables)[N], const char* schema,
                const QString& what, const QString& url) {
    const int present = tablesPresent(db, tables);
    if (present == int(N))
        return false;
    if (present > 0)
        throw EToolError(QStringLiteral("в базе «%1» есть лишь часть таблиц %2 (%3 из %4): "
                                        "это не база infotest или её создание прервалось; "
                                        "укажите пустую базу")
                             .arg(url, what)
                             .arg(present)
                             .arg(N));
    db.execScript(schema);
    return true;
}

void markBank(const Connection& db) {
    db.execScript(QStringLiteral("COMMENT ON TABLE %1 IS '%2%3'")
                      .arg(quoted(data::kQuestionTable), QString::fromUtf8(data::kServerBankMark))
                      .arg(data::kBankUserVersion)
                      .toUtf8()
                      .constData());
}

bool ensureRole(const Connection& db, const QString& role) {
    const data::pg::Result found = db.exec(
        QStringLiteral("SELECT rolsuper FROM pg_catalog.pg_roles WHERE rolname = $1"), {role});
    if (found.rows() == 1)
        return false;
    // A role to log in with; its password is set by the administrator, never on our command line.
    db.exec(QStringLiteral("CREATE ROLE %1 LOGIN").arg(data::pg::quoted(role)));
    return true;
}

void grant(const Connection& db, const QString& teachers, const QString& pupils) {
    QStringList bankTables;
    for (const char* table : data::kBankTables)
        bankTables << quoted(table);
    QStringList all = bankTables;
    for (const char* table : kJournalTables)
        all << quoted(table);
    const QString tables = all.join(QLatin1String(", "));
    const QString t = data::pg::quoted(teachers), p = data::pg::quoted(pupils);
    const QString database =
        data::pg::quoted(db.exec(QStringLiteral("SELECT current_database()")).text(0, 0));
    const QStringList statements{
        // From scratch on every run, so that rights given earlier by hand do not linger.
        QStringLiteral("REVOKE ALL ON %1 FROM PUBLIC, %2, %3").arg(tables, t, p),
        QStringLiteral("GRANT CONNECT ON DATABASE %1 TO %2, %3").arg(database, t, p),
        QStringLiteral("GRANT USAGE ON SCHEMA public TO %1, %2").arg(t, p),
        QStringLiteral("GRANT ALL ON %1 TO %2").arg(tables, t),
        // Nobody but the owner makes objects beside the bank (the default of new databases).
        QStringLiteral("REVOKE CREATE ON SCHEMA public FROM PUBLIC"),
    };
    for (const QString& statement : statements)
        db.exec(statement);
    // The identity sequences, for adding rows and for a copy that sets them past its ids.
    for (const QString& table : all)
        runs::grantOnIdSequence(db, table, QStringLiteral("ALL"), t);
    runs::grant(db, teachers, pupils);
}

std::vector<StoredRow> readRows(const Connection& db, const char* table, const char* textColumn) {
    const data::pg::Result rows =
        db.exec(QStringLiteral("SELECT %1, %2, %3, %4 FROM %5 ORDER BY %2, %1")
                    .arg(quoted(data::kIdColumn), quoted(data::kQuestionColumn), quoted(textColumn),
                         quoted(data::kCorrectColumn), quoted(table)));
    std::vector<StoredRow> out;
    for (int r = 0; r < rows.rows(); ++r) {
        StoredRow row;
        row.id = rows.integer(r, 0);
        if (!rows.isNull(r, 1))
            row.question = rows.integer(r, 1);
        if (!rows.isNull(r, 2))
            row.text = rows.text(r, 2);
        if (!rows.isNull(r, 3))
            row.flag = rows.flag(r, 3);
        out.push_back(std::move(row));
    }
    return out;
}

qint64 count(const Connection& db, const char* table) {
    return db.exec(QStringLiteral("SELECT count(*) FROM %1").arg(quoted(table))).integer(0, 0);
}

} // namespace

Connection connect(const QString& url) {
    if (data::pg::carriesPassword(url))
        throw EToolError(QStringLiteral("адрес «%1» содержит пароль, а командную строку видят "
                                        "все пользователи компьютера: уберите пароль из адреса "
                                        "и запишите его в ~/.pgpass (или в файл, названный в "
                                        "PGPASSFILE)")
                             .arg(url));
    Connection db(url, "infotest-bank");
    if (!db.ok())
        throw data::pg::EServerError(db.lastError().simplified(), {});
    return db;
}

QString explainServerError(const data::pg::EServerError& e, const QString& bank) {
    const QString state = e.sqlState();
    QString lead, advice;
    if (state.isEmpty()) {
        lead = QStringLiteral("Нет связи с сервером банка «%1»: %2");
        advice = QStringLiteral("Проверьте адрес, что сервер запущен и пускает этот компьютер, и "
                                "пароль в ~/.pgpass.");
    } else if (state.startsWith(QLatin1String("08")) || state.startsWith(QLatin1String("57P"))) {
        lead = QStringLiteral("Связь с сервером банка «%1» прервалась: %2");
        advice = QStringLiteral("Ничего не записано; повторите команду.");
    } else if (state.startsWith(QLatin1String("28"))) {
        lead = QStringLiteral("Сервер банка «%1» не пускает: %2");
        advice = QStringLiteral("Проверьте имя роли и пароль в ~/.pgpass.");
    } else if (state == QLatin1String("42501")) {
        lead = QStringLiteral("У роли нет на это прав в банке «%1»: %2");
        advice = QStringLiteral("Банк меняет и переносит учитель: войдите ролью учителя.");
    } else if (state == QLatin1String("42P01") || state == QLatin1String("42703")) {
        lead = QStringLiteral("В базе «%1» нет таблиц банка: %2");
        advice = QStringLiteral("Создайте их: infotest-bank server-init АДРЕС --teachers РОЛЬ "
                                "--pupils РОЛЬ.");
    } else if (state == QLatin1String("3D000")) {
        lead = QStringLiteral("На сервере нет базы «%1»: %2");
        advice = QStringLiteral("Создайте её (createdb) и выполните infotest-bank server-init.");
    } else if (state == QLatin1String("55P03") || state == QLatin1String("40P01") ||
               state == QLatin1String("40001")) {
        lead = QStringLiteral("Банк «%1» сейчас занят другой программой: %2");
        advice = QStringLiteral("Повторите команду, когда она закончит запись.");
    } else if (state == QLatin1String("53100")) {
        lead = QStringLiteral("На сервере банка «%1» не хватает места на диске: %2");
        advice = QStringLiteral("Ничего не записано.");
    } else {
        lead = QStringLiteral("Ошибка сервера в банке «%1»: %2");
        advice = QStringLiteral("Ничего не записано.");
    }
    const QString message = e.message();
    const bool ended = message.endsWith(u'.') || message.endsWith(u'?') || message.endsWith(u'!');
    return lead.arg(bank, message) + (ended ? QStringLiteral(" ") : QStringLiteral(". ")) + advice;
}

InitReport initServer(const QString& url, const QString& teachers, const QString& pupils) {
    if (teachers.isEmpty() || pupils.isEmpty() || teachers == pupils)
        throw EToolError(QStringLiteral("нужны две разные роли: --teachers РОЛЬ --pupils РОЛЬ"));
    const Connection db = connect(url);
    Transaction tx(db);
    // In the default schema of the database, where the program looks for them. The schema's
    // "IF NOT EXISTS" notices ("already exists, skipping") are the expected path of a run
    // again, not news for the admin; warnings still reach the terminal.
    db.exec(QStringLiteral("SET LOCAL search_path = public"));
    db.exec(QStringLiteral("SET LOCAL client_min_messages = warning"));
    InitReport report;
    if (makeTables(db, data::kBankTables, data::serverBankSchema().constData(),
                   QStringLiteral("банка вопросов"), url)) {
        markBank(db);
        report.lines << QStringLiteral("Созданы таблицы банка вопросов.");
    } else {
        report.lines << QStringLiteral("Таблицы банка вопросов уже есть: оставлены как есть.");
    }
    report.lines << (makeTables(db, kJournalTables,
                                data::journal::serverJournalSchema().constData(),
                                QStringLiteral("журнала результатов"), url)
                         ? QStringLiteral("Созданы таблицы журнала результатов.")
                         : QStringLiteral("Таблицы журнала результатов уже есть: оставлены "
                                          "как есть."));
    db.execScript(recordFunction().constData());
    runs::install(db, pupils);
    for (const QString& role : {teachers, pupils}) {
        const bool made = ensureRole(db, role);
        report.lines << (made ? QStringLiteral("Создана роль «%1» (без пароля: задайте его в "
                                               "psql командой \\password %1).")
                              : QStringLiteral("Роль «%1» уже есть."))
                            .arg(role);
    }
    if (db.exec(QStringLiteral("SELECT rolsuper FROM pg_catalog.pg_roles WHERE rolname = $1"),
                {pupils})
            .flag(0, 0))
        throw EToolError(QStringLiteral("роль «%1» — суперпользователь сервера, права ей не "
                                        "ограничить; укажите для учеников другую роль")
                             .arg(pupils));
    grant(db, teachers, pupils);
    tx.commit();
    report.lines << QStringLiteral("Права выданы: «%1» — всё; «%2» — читать банк без отметок "
                                   "верных ответов и проходить тест через функции сервера, "
                                   "которые его оценивают и записывают.")
                        .arg(teachers, pupils);
    return report;
}

void createBank(const QString& url) {
    const Connection db = connect(url);
    Transaction tx(db);
    db.exec(QStringLiteral("SET LOCAL search_path = public"));
    if (tablesPresent(db, data::kBankTables) > 0)
        throw EToolError(QStringLiteral("в базе «%1» уже есть таблицы банка; create не "
                                        "перезаписывает банки")
                             .arg(url));
    db.execScript(data::serverBankSchema().constData());
    markBank(db);
    tx.commit();
}

StoredBank readBank(const QString& url) {
    const Connection db = connect(url);
    // One snapshot: a teacher editing meanwhile cannot split a question from its rows.
    Transaction tx(db);
    db.exec(QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ READ ONLY"));
    std::vector<StoredQuestion> questions;
    const data::pg::Result rows =
        db.exec(QStringLiteral("SELECT %1, %2, %3 FROM %4 ORDER BY %1")
                    .arg(quoted(data::kIdColumn), quoted(data::kNumberColumn),
                         quoted(data::kQuestionColumn), quoted(data::kQuestionTable)));
    for (int r = 0; r < rows.rows(); ++r) {
        StoredQuestion q;
        q.id = rows.integer(r, 0);
        if (!rows.isNull(r, 1))
            q.number = rows.integer(r, 1);
        if (!rows.isNull(r, 2))
            q.text = rows.text(r, 2);
        questions.push_back(std::move(q));
    }
    return assembleBank(std::move(questions), readRows(db, data::kOptionTable, data::kOptionColumn),
                        readRows(db, data::kExplanationTable, data::kExplanationColumn));
}

BankCounts countBank(const QString& url) {
    const Connection db = connect(url);
    BankCounts counts;
    counts.questions = count(db, data::kQuestionTable);
    counts.options = count(db, data::kOptionTable);
    counts.explanations = count(db, data::kExplanationTable);
    const QString mark = db.exec(QStringLiteral("SELECT obj_description($1::regclass, 'pg_class')"),
                                 {quoted(data::kQuestionTable)})
                             .text(0, 0);
    const QString prefix = QString::fromUtf8(data::kServerBankMark);
    counts.marked = mark.startsWith(prefix);
    counts.userVersion = counts.marked ? mark.mid(prefix.size()).toInt() : 0;
    return counts;
}

qint64 importQuestions(const QString& url, const std::vector<Question>& questions,
                       bool allowDuplicates) {
    const Connection db = connect(url);
    Transaction tx(db);
    // Two imports at once would number their questions alike.
    const QString questionTable = quoted(data::kQuestionTable);
    db.exec(QStringLiteral("LOCK TABLE %1 IN SHARE ROW EXCLUSIVE MODE").arg(questionTable));
    const qint64 before = count(db, data::kQuestionTable);
    if (!allowDuplicates) {
        QSet<QString> texts;
        const data::pg::Result rows = db.exec(
            QStringLiteral("SELECT %1 FROM %2").arg(quoted(data::kQuestionColumn), questionTable));
        for (int r = 0; r < rows.rows(); ++r)
            texts.insert(rows.text(r, 0));
        if (std::vector<size_t> duplicates = duplicatesOf(texts, questions); !duplicates.empty())
            throw EDuplicateQuestions(std::move(duplicates));
    }
    qint64 number = before;
    for (const Question& q : questions) {
        const qint64 id =
            db.exec(QStringLiteral("INSERT INTO %1 (%2, %3) VALUES ($1, $2) RETURNING %4")
                        .arg(questionTable, quoted(data::kNumberColumn),
                             quoted(data::kQuestionColumn), quoted(data::kIdColumn)),
                    {++number, q.text})
                .integer(0, 0);
        for (const auto& [table, column, choices] :
             {std::tuple{data::kOptionTable, data::kOptionColumn, &q.options},
              std::tuple{data::kExplanationTable, data::kExplanationColumn, &q.explanations}})
            for (const Choice& choice : *choices)
                db.exec(QStringLiteral("INSERT INTO %1 (%2, %3, %4) VALUES ($1, $2, $3)")
                            .arg(quoted(table), quoted(data::kQuestionColumn), quoted(column),
                                 quoted(data::kCorrectColumn)),
                        {id, choice.text, choice.correct});
    }
    tx.commit();
    return number;
}

} // namespace bank::server

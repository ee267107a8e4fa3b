#include "server/ServerRuns.h"

#include "core/ToolError.h"
#include "data/Schema.h"
#include "data/journal/JournalStore.h"
#include "data/pg/Pg.h"

#include <QStringList>

namespace bank::server::runs {

using data::pg::Connection;

namespace {

// A run between its start and its recording: the server's own copy of the rows shown, marks
// included, and once recorded what was returned, so that a repeated call returns it again.
constexpr const char* kStartedRunsSchema = R"sql(
CREATE TABLE IF NOT EXISTS "Т_НачатыйТест" ("Код" uuid PRIMARY KEY DEFAULT gen_random_uuid(), "Начало" timestamptz NOT NULL DEFAULT now(), "Компьютер" text NOT NULL, "Логин" text NOT NULL, "ЛогинСообщён" boolean NOT NULL, "ФИО" text NOT NULL, "Ученик" text NOT NULL, "Вопросы" jsonb NOT NULL, "Записан" boolean NOT NULL DEFAULT false, "Баллы" integer, "Оценка" integer, "Удалено" integer);
CREATE INDEX IF NOT EXISTS "Т_НачатыйТест_Начало" ON "Т_НачатыйТест" ("Начало");
ALTER TABLE "Т_Прохождение" ADD COLUMN IF NOT EXISTS "ЛогинСообщён" boolean NOT NULL DEFAULT false;
)sql";

// @QUESTIONS@, @CHOICES@, @TEXT@ and @PUPILS@ are filled in by functionsSql(). Every
// refusal is 22023, and happens before anything is written.
constexpr const char* kFunctions = R"sql(
-- The rows of one question as the testing window shows them: the first rows in id order, the
-- last repeated when there are fewer. ids, texts and marks: the question's rows now, by id.
-- A shown id the bank no longer has was deleted since the program read it: copied as deleted.
CREATE OR REPLACE FUNCTION "Копия_показанных"(question integer, shown integer[], ids integer[],
    texts text[], marks boolean[], foreign_rows bigint) RETURNS jsonb
LANGUAGE plpgsql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $$
DECLARE
    last integer := shown[@CHOICES@];
    p integer;
    at integer;
    copy jsonb := '[]';
BEGIN
    IF foreign_rows > 0 THEN
        RAISE EXCEPTION 'Вопрос %: показана строка другого вопроса', question USING ERRCODE = '22023';
    END IF;
    FOR p IN 2..@CHOICES@ LOOP
        IF shown[p] < shown[p - 1]
           OR (p > 2 AND shown[p - 1] = shown[p - 2] AND shown[p] <> shown[p - 1]) THEN
            RAISE EXCEPTION 'Вопрос %: строки показаны не по порядку', question USING ERRCODE = '22023';
        END IF;
    END LOOP;
    IF EXISTS (SELECT 1 FROM unnest(ids) x WHERE x < last AND x <> ALL (shown))
       OR (shown[@CHOICES@ - 1] = last AND EXISTS (SELECT 1 FROM unnest(ids) x WHERE x > last)) THEN
        RAISE EXCEPTION 'Вопрос %: показаны не первые его строки', question USING ERRCODE = '22023';
    END IF;
    FOR p IN 1..@CHOICES@ LOOP
        at := array_position(ids, shown[p]);
        copy := copy || jsonb_build_array(jsonb_build_object('id', shown[p], 'Текст', texts[at],
            'Верен', marks[at], 'Удалён', at IS NULL));
    END LOOP;
    RETURN copy;
END
$$;

-- Numbers the questions 1..N in the order of the ids. A row another transaction holds keeps
-- its number rather than make this one wait; the program's rows take the numbers returned.
CREATE OR REPLACE FUNCTION "Пронумеровать_вопросы"(ids integer[])
RETURNS TABLE ("id" integer, "Номер" integer)
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = public, pg_temp
SET lock_timeout = '2s' AS $$
#variable_conflict use_column
BEGIN
    IF ids IS NULL OR cardinality(ids) > 1000000
       OR (cardinality(ids) > 0 AND array_dims(ids) <> format('[1:%s]', cardinality(ids)))
       OR (SELECT count(DISTINCT x) FROM unnest(ids) x) <> cardinality(ids) THEN
        RAISE EXCEPTION 'Нумерация: нужен список разных номеров строк' USING ERRCODE = '22023';
    END IF;
    WITH wanted AS (SELECT w.x AS id, w.n::integer AS n FROM unnest(ids) WITH ORDINALITY w(x, n)),
         free AS (SELECT q."id" FROM "Т_Вопросы" q JOIN wanted ON wanted.id = q."id"
                  WHERE q."Номер" IS DISTINCT FROM wanted.n FOR UPDATE OF q SKIP LOCKED)
    UPDATE "Т_Вопросы" q SET "Номер" = wanted.n FROM wanted
    WHERE q."id" = wanted.id AND q."id" IN (SELECT free."id" FROM free);
    RETURN QUERY SELECT w.x, w.n::integer FROM unnest(ids) WITH ORDINALITY w(x, n) ORDER BY w.n;
END
$$;

-- Starts a run: the server copies the rows shown, with its own clock, and gives the token the
-- run is finished with. The login is the session's, or with the shared pupils' role the one
-- the program reports.
CREATE OR REPLACE FUNCTION "Начать_тест"(questions integer[], options integer[],
    explanations integer[], login text, host text, full_name text, pupil text) RETURNS uuid
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = public, pg_temp
SET lock_timeout = '2s' AS $$
#variable_conflict use_column
DECLARE
    shared constant boolean := session_user = @PUPILS@;
    i integer;
    question_text text;
    o integer[];
    e integer[];
    copy jsonb := '[]';
    token uuid;
BEGIN
    IF array_dims(questions) IS DISTINCT FROM '[1:@QUESTIONS@]'
       OR (SELECT count(DISTINCT x) FROM unnest(questions) x) <> @QUESTIONS@
       OR array_dims(options) IS DISTINCT FROM '[1:@QUESTIONS@][1:@CHOICES@]'
       OR array_dims(explanations) IS DISTINCT FROM '[1:@QUESTIONS@][1:@CHOICES@]'
       OR EXISTS (SELECT 1 FROM unnest(options || explanations) x WHERE x IS NULL) THEN
        RAISE EXCEPTION 'Тест начинается с @QUESTIONS@ разных вопросов по @CHOICES@ ответа и объяснения'
            USING ERRCODE = '22023';
    END IF;
    IF greatest(length(login), length(host), length(full_name), length(pupil)) > @TEXT@ THEN
        RAISE EXCEPTION 'Имя длиннее @TEXT@ знаков' USING ERRCODE = '22023';
    END IF;
    FOR i IN 1..@QUESTIONS@ LOOP
        SELECT q."Вопрос" INTO question_text FROM "Т_Вопросы" q WHERE q."id" = questions[i];
        IF NOT FOUND THEN
            RAISE EXCEPTION 'Вопроса % нет в банке', questions[i] USING ERRCODE = '22023';
        END IF;
        o := ARRAY(SELECT unnest(options[i:i][1:@CHOICES@]));
        e := ARRAY(SELECT unnest(explanations[i:i][1:@CHOICES@]));
        copy := copy || jsonb_build_array(jsonb_build_object('id', questions[i],
            'Вопрос', coalesce(question_text, ''),
            'Варианты', (SELECT "Копия_показанных"(questions[i], o,
                coalesce(array_agg(r."id" ORDER BY r."id"), '{}'), array_agg(r."Ответ" ORDER BY r."id"),
                array_agg(r."Правильный" ORDER BY r."id"),
                (SELECT count(*) FROM "Т_Вариант" f WHERE f."id" = ANY (o)
                 AND f."Вопрос" IS DISTINCT FROM questions[i]))
                FROM "Т_Вариант" r WHERE r."Вопрос" = questions[i]),
            'Объяснения', (SELECT "Копия_показанных"(questions[i], e,
                coalesce(array_agg(r."id" ORDER BY r."id"), '{}'), array_agg(r."Объяснение" ORDER BY r."id"),
                array_agg(r."Правильный" ORDER BY r."id"),
                (SELECT count(*) FROM "Т_Объяснение" f WHERE f."id" = ANY (e)
                 AND f."Вопрос" IS DISTINCT FROM questions[i]))
                FROM "Т_Объяснение" r WHERE r."Вопрос" = questions[i])));
    END LOOP;
    INSERT INTO "Т_НачатыйТест" ("Компьютер", "Логин", "ЛогинСообщён", "ФИО", "Ученик", "Вопросы")
    VALUES (coalesce(host, ''), CASE WHEN shared THEN coalesce(login, '') ELSE session_user::text END,
        shared, coalesce(full_name, ''), coalesce(pupil, ''), copy)
    RETURNING "Код" INTO token;
    PERFORM pg_notify('@CHANNEL@', '');
    RETURN token;
END
$$;

-- Scores a started run against the server's copy as the testing window scores: a chosen row's
-- mark, a null mark or a deleted row 0; records it in the journal and returns points and grade
-- (none for an unfinished run). A question's copy in the journal is shared by the runs that
-- showed it alike, unless another transaction is recording the same copy right now: then this
-- run keeps a copy of its own rather than wait on it.
CREATE OR REPLACE FUNCTION "Завершить_тест"(token uuid, options integer[], explanations integer[])
RETURNS TABLE ("Баллы" integer, "Оценка" integer, "Удалено" integer)
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = public, pg_temp
SET lock_timeout = '2s' AS $$
#variable_conflict use_column
DECLARE
    run "Т_НачатыйТест"%ROWTYPE;
    answered constant integer := coalesce(cardinality(options), 0);
    finished constant boolean := answered = @QUESTIONS@;
    option_at integer[] := '{}';
    explanation_at integer[] := '{}';
    option_right boolean[] := '{}';
    explanation_right boolean[] := '{}';
    question jsonb;
    points integer := 0;
    deleted integer := 0;
    grade integer;
    run_id integer;
    shown_id integer;
    print bytea;
    i integer;
BEGIN
    IF token IS NULL OR answered > @QUESTIONS@
       OR coalesce(cardinality(explanations), 0) <> answered
       OR (answered > 0 AND (array_dims(options) <> format('[1:%s]', answered)
                             OR array_dims(explanations) <> format('[1:%s]', answered)))
       OR EXISTS (SELECT 1 FROM unnest(options || explanations) x WHERE x IS NULL) THEN
        RAISE EXCEPTION 'Ответы теста не по форме' USING ERRCODE = '22023';
    END IF;
    SELECT * INTO run FROM "Т_НачатыйТест" s WHERE s."Код" = token FOR UPDATE;
    IF NOT FOUND THEN
        RAISE EXCEPTION 'Тест % на этом сервере не начинался', token USING ERRCODE = '22023';
    END IF;
    IF run."Записан" THEN
        RETURN QUERY SELECT run."Баллы", run."Оценка", run."Удалено";
        RETURN;
    END IF;
    FOR i IN 1..answered LOOP
        question := run."Вопросы" -> (i - 1);
        option_at[i] := (SELECT min(n) FROM jsonb_array_elements(question -> 'Варианты')
                         WITH ORDINALITY c(r, n) WHERE (r ->> 'id')::integer = options[i]);
        explanation_at[i] := (SELECT min(n) FROM jsonb_array_elements(question -> 'Объяснения')
                              WITH ORDINALITY c(r, n) WHERE (r ->> 'id')::integer = explanations[i]);
        IF option_at[i] IS NULL OR explanation_at[i] IS NULL THEN
            RAISE EXCEPTION 'Вопрос %: выбрана строка, которой не было на экране', i
                USING ERRCODE = '22023';
        END IF;
        option_right[i] := coalesce((question -> 'Варианты' -> (option_at[i] - 1) ->> 'Верен')::boolean, false);
        explanation_right[i] := coalesce((question -> 'Объяснения' -> (explanation_at[i] - 1) ->> 'Верен')::boolean, false);
        points := points + option_right[i]::integer + explanation_right[i]::integer;
        deleted := deleted + (question -> 'Варианты' -> (option_at[i] - 1) ->> 'Удалён')::boolean::integer
            + (question -> 'Объяснения' -> (explanation_at[i] - 1) ->> 'Удалён')::boolean::integer;
    END LOOP;
    IF finished THEN
        grade := CASE WHEN points > 16 THEN 5 WHEN points > 13 THEN 4 WHEN points > 9 THEN 3 ELSE 2 END;
    END IF;
    INSERT INTO "Т_Прохождение" ("Код", "Начало", "Конец", "Компьютер", "Логин", "ФИО",
        "Ученик", "Баллы", "Оценка", "Завершён", "Отвечено", "ЛогинСообщён")
    VALUES (token::text, to_char(run."Начало" AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS"Z"'),
        to_char(now() AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS"Z"'), run."Компьютер",
        run."Логин", run."ФИО", run."Ученик", points, grade, finished, answered,
        run."ЛогинСообщён")
    ON CONFLICT ("Код") DO NOTHING
    RETURNING "id" INTO run_id;
    FOR i IN 1..CASE WHEN run_id IS NULL THEN 0 ELSE answered END LOOP
        question := run."Вопросы" -> (i - 1);
        print := sha256(convert_to(jsonb_build_array(question -> 'id', question -> 'Вопрос',
            (SELECT jsonb_agg(jsonb_build_array(coalesce(r ->> 'Текст', ''),
                 coalesce((r ->> 'Верен')::boolean, false)) ORDER BY n)
             FROM jsonb_array_elements(question -> 'Варианты') WITH ORDINALITY c(r, n)),
            (SELECT jsonb_agg(jsonb_build_array(coalesce(r ->> 'Текст', ''),
                 coalesce((r ->> 'Верен')::boolean, false)) ORDER BY n)
             FROM jsonb_array_elements(question -> 'Объяснения') WITH ORDINALITY c(r, n)))::text,
            'UTF8'));
        shown_id := NULL;
        -- Whoever records a copy holds this lock till its commit; taken, no insert here waits.
        IF pg_try_advisory_xact_lock(('x' || encode(substr(print, 1, 8), 'hex'))::bit(64)::bigint) THEN
            INSERT INTO "Т_ПоказанныйВопрос" ("Отпечаток", "ВопросБанка", "Вопрос")
            VALUES (print, (question ->> 'id')::integer, question ->> 'Вопрос')
            ON CONFLICT ("Отпечаток") DO NOTHING
            RETURNING "id" INTO shown_id;
            IF shown_id IS NULL THEN
                SELECT s."id" INTO shown_id FROM "Т_ПоказанныйВопрос" s WHERE s."Отпечаток" = print;
            END IF;
        ELSE
            print := sha256(print || uuid_send(token));
            INSERT INTO "Т_ПоказанныйВопрос" ("Отпечаток", "ВопросБанка", "Вопрос")
            VALUES (print, (question ->> 'id')::integer, question ->> 'Вопрос')
            ON CONFLICT ("Отпечаток") DO NOTHING
            RETURNING "id" INTO shown_id;
        END IF;
        IF shown_id IS NOT NULL AND NOT EXISTS (SELECT 1 FROM "Т_ПоказанныйВариант" v
                                                WHERE v."Вопрос" = shown_id) THEN
            INSERT INTO "Т_ПоказанныйВариант" ("Вопрос", "Номер", "Ответ", "Правильный")
            SELECT shown_id, n, coalesce(r ->> 'Текст', ''), coalesce((r ->> 'Верен')::boolean, false)
            FROM jsonb_array_elements(question -> 'Варианты') WITH ORDINALITY c(r, n);
            INSERT INTO "Т_ПоказанноеОбъяснение" ("Вопрос", "Номер", "Объяснение", "Правильный")
            SELECT shown_id, n, coalesce(r ->> 'Текст', ''), coalesce((r ->> 'Верен')::boolean, false)
            FROM jsonb_array_elements(question -> 'Объяснения') WITH ORDINALITY c(r, n);
        END IF;
        INSERT INTO "Т_Ответ" ("Прохождение", "Номер", "Вопрос", "Вариант", "Объяснение",
            "ВариантВерен", "ОбъяснениеВерно")
        VALUES (run_id, i, shown_id, option_at[i], explanation_at[i], option_right[i],
            explanation_right[i]);
    END LOOP;
    UPDATE "Т_НачатыйТест" s SET "Записан" = true,
        "Баллы" = CASE WHEN finished THEN points END, "Оценка" = grade, "Удалено" = deleted
    WHERE s."Код" = token;
    PERFORM pg_notify('@CHANNEL@', '');
    RETURN QUERY SELECT CASE WHEN finished THEN points END, grade, deleted;
END
$$;
)sql";

// Every function of ours, as GRANT and ALTER name them.
constexpr const char* kHelper =
    R"("Копия_показанных"(integer, integer[], integer[], text[], boolean[], bigint))";
constexpr const char* kPupilsFunctions[] = {
    R"("Пронумеровать_вопросы"(integer[]))",
    R"("Начать_тест"(integer[], integer[], integer[], text, text, text, text))",
    R"("Завершить_тест"(uuid, integer[], integer[]))"};
constexpr const char* kTeachersFunction = R"("Записать_прохождение"(jsonb))";

QString quoted(const char* name) {
    return data::pg::quoted(QString::fromUtf8(name));
}

QString literal(const Connection& db, const QString& text) {
    return db.exec(QStringLiteral("SELECT quote_literal($1)"), {text}).text(0, 0);
}

QByteArray functionsSql(const Connection& db, const QString& pupils) {
    return QString::fromUtf8(kFunctions)
        .replace(QLatin1String("@QUESTIONS@"), QString::number(data::kQuestionsPerTest))
        .replace(QLatin1String("@CHOICES@"), QString::number(data::kChoicesPerQuestion))
        .replace(QLatin1String("@TEXT@"), QString::number(data::kMaxTextLength))
        .replace(QLatin1String("@PUPILS@"), literal(db, pupils))
        .replace(QLatin1String("@CHANNEL@"), QString::fromUtf8(data::journal::kJournalChannel))
        .toUtf8();
}

const QByteArray kStartedRuns =
    data::pg::quoted(QString::fromUtf8(data::journal::kStartedRunTable)).toUtf8();

QStringList allFunctions() {
    QStringList all{QString::fromUtf8(kHelper), QString::fromUtf8(kTeachersFunction)};
    for (const char* f : kPupilsFunctions)
        all << QString::fromUtf8(f);
    return all;
}

} // namespace

void install(const Connection& db, const QString& pupils) {
    db.execScript(kStartedRunsSchema);
    const QString owner = QString::fromUtf8(kOwnerRole);
    const data::pg::Result found = db.exec(
        QStringLiteral("SELECT rolsuper OR rolcanlogin OR rolbypassrls FROM pg_catalog.pg_roles "
                       "WHERE rolname = $1"),
        {owner});
    if (found.rows() == 0)
        db.exec(QStringLiteral("CREATE ROLE %1 NOLOGIN").arg(data::pg::quoted(owner)));
    else if (found.flag(0, 0))
        throw EToolError(QStringLiteral("роль «%1» может входить на сервер или обходить права; "
                                        "функции infotest ей не отдать: удалите её или "
                                        "сделайте NOLOGIN NOSUPERUSER")
                             .arg(owner));
    db.execScript(functionsSql(db, pupils).constData());
    for (const QString& function : allFunctions())
        db.exec(
            QStringLiteral("ALTER FUNCTION %1 OWNER TO %2").arg(function, data::pg::quoted(owner)));
}

void grant(const Connection& db, const QString& teachers, const QString& pupils) {
    const QString t = data::pg::quoted(teachers), p = data::pg::quoted(pupils),
                  o = data::pg::quoted(QString::fromUtf8(kOwnerRole));
    QStringList bank, journal;
    for (const char* table : data::kBankTables)
        bank << quoted(table);
    for (const char* table : data::journal::kJournalTables)
        journal << quoted(table);
    const QString database =
        data::pg::quoted(db.exec(QStringLiteral("SELECT current_database()")).text(0, 0));
    const QString started = QString::fromUtf8(kStartedRuns);
    QStringList statements{
        QStringLiteral("REVOKE ALL ON %1, %2, %3 FROM %4")
            .arg(bank.join(QLatin1String(", ")), journal.join(QLatin1String(", ")), started, o),
        QStringLiteral("REVOKE ALL ON %1 FROM PUBLIC, %2, %3").arg(started, t, p),
        QStringLiteral("GRANT USAGE ON SCHEMA public TO %1").arg(o),
        // The functions' own rights: read the bank, number it, write the journal.
        QStringLiteral("GRANT SELECT ON %1 TO %2").arg(bank.join(QLatin1String(", ")), o),
        QStringLiteral("GRANT UPDATE (%1) ON %2 TO %3")
            .arg(quoted(data::kNumberColumn), quoted(data::kQuestionTable), o),
        QStringLiteral("GRANT SELECT, INSERT ON %1 TO %2")
            .arg(journal.join(QLatin1String(", ")), o),
        QStringLiteral("GRANT SELECT, INSERT, UPDATE ON %1 TO %2").arg(started, o),
        QStringLiteral("GRANT SELECT, DELETE ON %1 TO %2").arg(started, t),
        // Pupils read everything of the bank but the marks; the rest only through the functions.
        QStringLiteral("GRANT SELECT (%1, %2, %3) ON %4 TO %5")
            .arg(quoted(data::kIdColumn), quoted(data::kNumberColumn),
                 quoted(data::kQuestionColumn), quoted(data::kQuestionTable), p),
        QStringLiteral("GRANT SELECT (%1, %2, %3) ON %4 TO %5")
            .arg(quoted(data::kIdColumn), quoted(data::kQuestionColumn),
                 quoted(data::kOptionColumn), quoted(data::kOptionTable), p),
        QStringLiteral("GRANT SELECT (%1, %2, %3) ON %4 TO %5")
            .arg(quoted(data::kIdColumn), quoted(data::kQuestionColumn),
                 quoted(data::kExplanationColumn), quoted(data::kExplanationTable), p),
        // No temporary tables to park objects in, except for the teachers as before.
        QStringLiteral("REVOKE TEMPORARY ON DATABASE %1 FROM PUBLIC, %2").arg(database, p),
        QStringLiteral("GRANT TEMPORARY ON DATABASE %1 TO %2").arg(database, t),
        // Defaults only: a session may change them, so nothing relies on them but the comfort
        // of the class when a program hangs.
        QStringLiteral("ALTER ROLE %1 SET statement_timeout = '30s'").arg(p),
        QStringLiteral("ALTER ROLE %1 SET idle_in_transaction_session_timeout = '30s'").arg(p),
    };
    for (const QString& function : allFunctions())
        statements
            << QStringLiteral("REVOKE ALL ON FUNCTION %1 FROM PUBLIC, %2, %3").arg(function, t, p);
    for (const char* function : kPupilsFunctions)
        statements << QStringLiteral("GRANT EXECUTE ON FUNCTION %1 TO %2, %3")
                          .arg(QString::fromUtf8(function), t, p);
    statements << QStringLiteral("GRANT EXECUTE ON FUNCTION %1 TO %2")
                      .arg(QString::fromUtf8(kTeachersFunction), t);
    for (const QString& statement : statements)
        db.exec(statement);
    for (const QString& table : journal)
        grantOnIdSequence(db, table, QStringLiteral("USAGE"), o);
}

void grantOnIdSequence(const Connection& db, const QString& table, const QString& privileges,
                       const QString& role) {
    const data::pg::Result sequence =
        db.exec(QStringLiteral("SELECT pg_catalog.pg_get_serial_sequence($1, $2) FROM "
                               "pg_catalog.pg_attribute WHERE attrelid = to_regclass($1) AND "
                               "attname = $2"),
                {table, QString::fromUtf8(data::kIdColumn)});
    if (sequence.rows() == 1 && !sequence.isNull(0, 0)) // quoted by the server
        db.exec(QStringLiteral("GRANT %1 ON SEQUENCE %2 TO %3")
                    .arg(privileges, sequence.text(0, 0), role));
}

bool installed(const Connection& db) {
    return db
        .exec(QStringLiteral("SELECT to_regclass($1) IS NOT NULL"),
              {QString::fromUtf8(kStartedRuns)})
        .flag(0, 0);
}

} // namespace bank::server::runs

#include "cli/Cli.h"

#include "cli/BankFile.h"
#include "cli/Command.h"
#include "cli/Copy.h"
#include "cli/Import.h"
#include "cli/JournalCommands.h"
#include "data/Location.h"
#include "data/Schema.h"
#include "formats/Csv.h"
#include "formats/QuestionCsv.h"
#include "reports/PrintTest.h"
#include "server/Server.h"
#include "testing/Geometry.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSet>
#include <exception>
#include <functional>
#include <map>
#include <sqlite3.h>

namespace bank {

namespace {

// %1: the text limit; %2: the questions of a test; %3: the question line's width.
const char* const kHelpTemplate =
    R"(infotest-bank — банк вопросов программы «Тесты по информатике» (файл db.mdb)

Использование: infotest-bank КОМАНДА ФАЙЛ [...] [КЛЮЧИ]

Команды:
  create ФАЙЛ                 создать пустой банк; существующий файл не перезаписывается
                              пример: infotest-bank create db.mdb
  import ФАЙЛ ВОПРОСЫ [--format csv|moodle|gift|aiken] [--encoding КОДИРОВКА]
         [--lenient] [--allow-duplicates]
                              добавить вопросы из CSV, Moodle XML, GIFT или Aiken в конец
                              банка; формат узнаётся по расширению и содержимому, --format
                              называет его явно. При ошибке в файле не добавляется ничего, а
                              сообщение называет строку. Вопрос не на четыре варианта и не
                              с одним верным не добавляется, как и весь файл: --lenient
                              добавляет его как есть (check его покажет), а длинные тексты
                              сокращает. Вопрос, текст которого в банке уже есть, не
                              добавляется (повторный импорт удвоил бы банк):
                              --allow-duplicates добавляет и такие. Файл не в UTF-8 читается
                              как Windows-1251, если так получается русский текст;
                              --encoding называет кодировку явно
                              пример: infotest-bank import db.mdb informatics.csv
  export ФАЙЛ [ВЫХОД.csv]     выгрузить вопросы в CSV (без ВЫХОД.csv — в стандартный вывод);
                              import вернёт из него те же вопросы, ответы, пояснения и
                              отметки. Вопрос, который CSV не перенесёт (текст длиннее %1
                              символов), называется, и не выгружается ничего
                              пример: infotest-bank export db.mdb вопросы.csv
  check ФАЙЛ                  перечислить всё, на чём споткнётся тест, по строке на
                              проблему: число и отметки ответов и пояснений, пустые и
                              длинные тексты, а также тексты шире окна тестирования
                              (шрифт Tahoma 11 пикселей: строка вопроса — %3 пикселей,
                              ответ — одна строка кнопки, пояснение — три); код выхода 1,
                              если что-то найдено
                              пример: infotest-bank check db.mdb
  info ФАЙЛ                   число вопросов, вариантов ответа и пояснений
                              пример: infotest-bank info db.mdb
  export-moodle ФАЙЛ ВЫХОД.xml [--skip-invalid]
                              выгрузить банк в Moodle XML: по два задания на вопрос
                              (ответ и пояснение), по баллу за каждое. Вопрос, который
                              Moodle не примет (нет текста, меньше двух ответов, пустой
                              ответ, нет верного), называется, и не выгружается ничего;
                              --skip-invalid выгружает остальные и перечисляет пропущенные
                              пример: infotest-bank export-moodle db.mdb informatics.xml
  export-gift ФАЙЛ ВЫХОД.gift [--skip-invalid]
                              то же в формате GIFT; import читает его обратно
                              пример: infotest-bank export-gift db.mdb informatics.gift
  print ФАЙЛ ВЫХОД.pdf [--questions N] [--seed S] [--key]
                              напечатать тест для урока без компьютеров: N вопросов
                              (по умолчанию %2) в случайном порядке, у каждого четыре
                              ответа и четыре пояснения, на листах A4. С одним и тем же
                              --seed выбираются те же вопросы; --key добавляет лист с
                              ключом ответов и таблицей оценок
                              пример: infotest-bank print db.mdb тест.pdf --seed 7 --key
  results ФАЙЛ [--from ДАТА] [--to ДАТА] [--who ТЕКСТ] [--answers] [--csv ВЫХОД.csv |
          --xlsx ВЫХОД.xlsx] [--journal ЖУРНАЛ]
                              прохождения тестов из журнала результатов (journal.db рядом
                              с банком): по строке на прохождение, с --answers — на
                              каждый отвеченный вопрос; --who ищет в имени, логине и
                              имени компьютера; даты — ГГГГ-ММ-ДД или ДД.ММ.ГГГГ
                              пример: infotest-bank results db.mdb --from 2026-09-01 --xlsx 5А.xlsx
  stats ФАЙЛ [--from ДАТА] [--to ДАТА] [--journal ЖУРНАЛ]
                              статистика вопросов по завершённым прохождениям: сколько
                              раз показан, доля верных ответов и пояснений,
                              дискриминация, выбор вариантов; называет вопросы, которые
                              стоит проверить (вероятно неверный ключ, слишком лёгкий
                              или трудный)
  report ФАЙЛ ВЫХОД.pdf [--from ДАТА] [--to ДАТА] [--journal ЖУРНАЛ]
                              отчёт на листах A4: оценки и баллы диаграммами, доли
                              верных ответов по вопросам, таблица прохождений
  journal-clear ФАЙЛ --before ДАТА [--dry-run] [--journal ЖУРНАЛ]
                              удалить из журнала прохождения, начатые до ДАТЫ (конец
                              учебного года); --dry-run только считает их
  server-init АДРЕС --teachers РОЛЬ --pupils РОЛЬ
                              подготовить базу на школьном сервере PostgreSQL: таблицы
                              банка и журнала, две роли (создаются, если их нет) и их
                              права: учителя меняют всё, ученики читают банк, нумеруют
                              вопросы и записывают свои прохождения
                              пример: infotest-bank server-init postgresql:///infotest
                                      --teachers infotest_teachers --pupils infotest_pupils
  copy ИСТОЧНИК НАЗНАЧЕНИЕ [--replace]
                              скопировать банк и журнал результатов между файлом и
                              сервером в любую сторону, с теми же id. Назначение со
                              строками не трогается без --replace; значение, которое
                              назначение не вместит (число шире поля, текст не в UTF-8
                              или с нулевым символом), называется, и не копируется ничего
                              пример: infotest-bank copy db.mdb postgresql://сервер/infotest
  help                        эта справка

ФАЙЛ везде может быть и адресом базы на сервере: postgresql://сервер/база (пароль —
не в адресе, а в ~/.pgpass).

CSV: UTF-8 (с меткой порядка байтов или без), разделитель «;», «,» или табуляция
(первая строка «sep=;» задаёт его явно), кавычки по RFC 4180. Строка заголовка:
Вопрос; Ответ 1; …; Ответ N; Верный ответ; Пояснение 1; …; Пояснение M; Верное
пояснение (пустые ячейки в конце заголовка не мешают). Затем по строке на вопрос; в
столбцах «Верный ответ» и «Верное пояснение» — номера верных через запятую или пробел.
Ответы вопроса идут до последней непустой ячейки; пустой ответ пишется как "".
Текст — не длиннее %1 символов.

Moodle XML: вопросы с выбором одного ответа (multichoice) и «верно/неверно»
(truefalse); ответ с fraction="100" верный, отзывы к ответам становятся пояснениями
(без них — общий отзыв). HTML становится простым текстом, картинки не переносятся.
GIFT: «Вопрос {=верный ~неверный#пояснение ~…}», «{T#отзыв на неверный#на верный}»;
названия, комментарии и категории не переносятся, экранирование \~ \= \# \{ \} \: \\ \n.
Aiken: строка вопроса, варианты «A. …» или «A) …», строка «ANSWER: A»; пояснений нет.
Вопросы других видов (эссе, короткий ответ, соответствие…) пропускаются и называются;
переводы строк в текстах становятся пробелами.

Коды выхода: 0 — успешно, 1 — check нашёл проблемы, 2 — ошибка.
)";

QString helpText() {
    return QString::fromUtf8(kHelpTemplate)
        .arg(data::kMaxTextLength)
        .arg(kQuestionsPerTest)
        .arg(testwindow::kQuestionLabelWidth);
}

int create(Context& c) {
    createBank(c.args[0]);
    writeLine(c.out, QStringLiteral("Создан пустой банк «%1».").arg(c.args[0]));
    return kExitOk;
}

int import(Context& c) {
    ImportOptions options;
    options.format = c.values.count(QStringLiteral("--format"))
                         ? c.values[QStringLiteral("--format")]
                         : QString();
    options.encoding = c.values.count(QStringLiteral("--encoding"))
                           ? c.values[QStringLiteral("--encoding")]
                           : QString();
    options.lenient = c.switches.contains(QStringLiteral("--lenient"));
    options.allowDuplicates = c.switches.contains(QStringLiteral("--allow-duplicates"));
    return importFile(c.args[0], c.args[1], options, c.out, c.err);
}

int exportCsv(Context& c) {
    const StoredBank bank = readBank(c.args[0]);
    const QStringList problems = exportProblems(bank);
    if (!problems.isEmpty()) {
        for (const QString& problem : problems)
            writeLine(c.err, problem);
        throw EToolError(QStringLiteral("CSV не перенесёт %1 без потерь (строкой выше сказано "
                                        "почему); ничего не выгружено.")
                             .arg(plural(problems.size(), "вопрос", "вопроса", "вопросов")));
    }
    const std::vector<Question> questions = questionsOf(bank);
    const QByteArray bytes = formatQuestions(questions);
    if (c.args.size() < 2) {
        c.out.write(bytes);
        return kExitOk;
    }
    writeOutput(c.args[1], bytes);
    writeLine(
        c.out,
        QStringLiteral("Выгружено вопросов: %1, в «%2».").arg(questions.size()).arg(c.args[1]));
    return kExitOk;
}
int check(Context& c) {
    for (const QString& line : ignoredObjects(c.args[0]))
        writeLine(c.out, line);
    try {
        checkProgramOpens(c.args[0]);
    } catch (const EProgramRefuses& e) {
        writeLine(c.out, QStringLiteral("Программа не откроет этот банк: %1").arg(e.why()));
        writeLine(c.err, QStringLiteral("Найдено проблем: 1."));
        return kExitProblems;
    }
    const StoredBank bank = readBank(c.args[0]);
    const QStringList problems = checkBank(bank);
    for (const QString& problem : problems)
        writeLine(c.out, problem);
    if (!problems.isEmpty()) {
        writeLine(c.err, QStringLiteral("Найдено проблем: %1.").arg(problems.size()));
        return kExitProblems;
    }
    qint64 options = 0, explanations = 0;
    for (const StoredQuestion& q : bank.questions) {
        options += qint64(q.options.size());
        explanations += qint64(q.explanations.size());
    }
    writeLine(c.out, QStringLiteral("Банк исправен: %1.")
                         .arg(countsText(qint64(bank.questions.size()), options, explanations)));
    return kExitOk;
}

int info(Context& c) {
    const BankCounts counts = countBank(c.args[0]);
    writeLine(c.out, QStringLiteral("Вопросов: %1").arg(counts.questions));
    writeLine(c.out, QStringLiteral("Вариантов ответа: %1").arg(counts.options));
    writeLine(c.out, QStringLiteral("Пояснений: %1").arg(counts.explanations));
    writeLine(c.out,
              counts.marked
                  ? QStringLiteral("Метка банка infotest: есть, версия %1").arg(counts.userVersion)
                  : QStringLiteral("Метка банка infotest: нет (файл создан не командой create)"));
    return kExitOk;
}

int exportMoodle(Context& c) {
    return exportForMoodle(MoodleFormat::Xml, c.args[0], c.args[1],
                           c.switches.contains(QStringLiteral("--skip-invalid")), c.out, c.err);
}

int exportGift(Context& c) {
    return exportForMoodle(MoodleFormat::Gift, c.args[0], c.args[1],
                           c.switches.contains(QStringLiteral("--skip-invalid")), c.out, c.err);
}

// A whole number option of at least 1 (or 0 with zeroAllowed).
quint32 numberOption(const Context& c, const QString& name, quint32 fallback, bool zeroAllowed) {
    const auto found = c.values.find(name);
    if (found == c.values.end())
        return fallback;
    bool ok = false;
    const quint32 value = found->second.toUInt(&ok);
    if (!ok || (value == 0 && !zeroAllowed))
        throw EToolError(QStringLiteral("%1 «%2»: ожидается целое число%3")
                             .arg(name, found->second,
                                  zeroAllowed ? QString() : QStringLiteral(" не меньше 1")));
    return value;
}

void writeLines(QIODevice& device, const QStringList& lines) {
    for (const QString& line : lines)
        writeLine(device, line);
}

// A valued option the command cannot do without.
QString requiredOption(const Context& c, const QString& name) {
    const auto found = c.values.find(name);
    if (found == c.values.end() || found->second.isEmpty())
        throw EToolError(QStringLiteral("не указано %1 РОЛЬ").arg(name));
    return found->second;
}

int print(Context& c) {
    PrintOptions options;
    options.questions = int(std::min<quint32>(
        numberOption(c, QStringLiteral("--questions"), kQuestionsPerTest, false), 100000));
    options.seed =
        numberOption(c, QStringLiteral("--seed"), QRandomGenerator::global()->generate(), true);
    options.key = c.switches.contains(QStringLiteral("--key"));
    options.bankName = bankName(c.args[0]);
    options.date = QDate::currentDate();

    const StoredBank bank = readBank(c.args[0]);
    const std::vector<const StoredQuestion*> candidates = printableQuestions(bank);
    const size_t faulty = bank.questions.size() - candidates.size();
    if (candidates.size() < size_t(options.questions))
        throw EToolError(QStringLiteral("в банке «%1» исправных вопросов %2, а тест просит %3%4; "
                                        "ничего не напечатано")
                             .arg(c.args[0])
                             .arg(candidates.size())
                             .arg(options.questions)
                             .arg(faulty > 0 ? QStringLiteral(" (что исправить, покажет "
                                                              "infotest-bank check)")
                                             : QString()));
    if (faulty > 0)
        writeLine(c.err, QStringLiteral("Вопросы с ошибками в выбор не входят: %1 (их покажет "
                                        "infotest-bank check).")
                             .arg(faulty));
    printTest(drawForPrint(candidates, options), c.args[1], options);
    writeLine(c.out, QStringLiteral("Тест напечатан в «%1»: вопросов — %2, вариант --seed %3%4.")
                         .arg(c.args[1])
                         .arg(options.questions)
                         .arg(options.seed)
                         .arg(options.key ? QStringLiteral(", с ключом ответов") : QString()));
    return kExitOk;
}

// The engine's own message in a sentence that says what it means for the bank and what to do.
QString explainEngineError(const EEngineError& e, const QString& command, const QString& bank) {
    const QString what = e.message();
    QString text;
    switch (e.code() & 0xFF) {
    case SQLITE_NOTADB:
        text = QStringLiteral("Файл «%1» не является банком вопросов: %2. Укажите файл банка "
                              "(db.mdb) или создайте новый: infotest-bank create ФАЙЛ.");
        break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        text = QStringLiteral("Банк «%1» сейчас занят другой программой: %2. Повторите команду, "
                              "когда она закончит запись.");
        break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
    case SQLITE_AUTH:
        text = QStringLiteral("Нет доступа к банку «%1»: %2. Проверьте права на файл и его "
                              "папку.");
        break;
    case SQLITE_FULL:
        text = QStringLiteral("Не хватает места на диске для банка «%1»: %2. Освободите место и "
                              "повторите команду.");
        break;
    case SQLITE_CORRUPT:
        text = QStringLiteral("Банк «%1» повреждён: %2. Возьмите его резервную копию.");
        break;
    default:
        if (what.startsWith(QLatin1String("no such table")) ||
            what.startsWith(QLatin1String("no such column")))
            text = QStringLiteral("Файл «%1» не является банком вопросов: %2. Укажите файл банка "
                                  "(db.mdb) или создайте новый: infotest-bank create ФАЙЛ.");
        else
            text = QStringLiteral("Ошибка базы данных в банке «%1»: %2.");
    }
    text = text.arg(bank, what);
    if (command == QLatin1String("import"))
        text += QStringLiteral(" В банк ничего не добавлено.");
    return text;
}

// The bank an engine's error concerns: the first argument, or for a copy the end of that kind.
const QString& bankOf(const QStringList& args, bool server) {
    if (args.size() > 1 && data::Location(args[0]).isServer() != server &&
        data::Location(args[1]).isServer() == server)
        return args[1];
    return args[0];
}

const std::map<QString, Command>& commands() {
    static const std::map<QString, Command> table{
        {QStringLiteral("create"), {1, 1, "create ФАЙЛ", create}},
        {QStringLiteral("import"),
         {2,
          2,
          "import ФАЙЛ ВОПРОСЫ [--format csv|moodle|gift|aiken] [--encoding КОДИРОВКА] "
          "[--lenient] [--allow-duplicates]",
          import,
          {QStringLiteral("--allow-duplicates"), QStringLiteral("--lenient")},
          {QStringLiteral("--format"), QStringLiteral("--encoding")}}},
        {QStringLiteral("export"), {1, 2, "export ФАЙЛ [ВЫХОД.csv]", exportCsv}},
        {QStringLiteral("check"), {1, 1, "check ФАЙЛ", check}},
        {QStringLiteral("info"), {1, 1, "info ФАЙЛ", info}},
        {QStringLiteral("export-moodle"),
         {2,
          2,
          "export-moodle ФАЙЛ ВЫХОД.xml [--skip-invalid]",
          exportMoodle,
          {QStringLiteral("--skip-invalid")}}},
        {QStringLiteral("export-gift"),
         {2,
          2,
          "export-gift ФАЙЛ ВЫХОД.gift [--skip-invalid]",
          exportGift,
          {QStringLiteral("--skip-invalid")}}},
        {QStringLiteral("print"),
         {2,
          2,
          "print ФАЙЛ ВЫХОД.pdf [--questions N] [--seed S] [--key]",
          print,
          {QStringLiteral("--key")},
          {QStringLiteral("--questions"), QStringLiteral("--seed")}}},
        {QStringLiteral("server-init"),
         {1,
          1,
          "server-init АДРЕС --teachers РОЛЬ --pupils РОЛЬ",
          [](Context& c) {
              writeLines(c.out, server::initServer(c.args[0],
                                                   requiredOption(c, QStringLiteral("--teachers")),
                                                   requiredOption(c, QStringLiteral("--pupils")))
                                    .lines);
              return kExitOk;
          },
          {},
          {QStringLiteral("--teachers"), QStringLiteral("--pupils")}}},
        {QStringLiteral("copy"),
         {2,
          2,
          "copy ИСТОЧНИК НАЗНАЧЕНИЕ [--replace]",
          [](Context& c) {
              writeLines(c.out, copyBank(c.args[0], c.args[1],
                                         c.switches.contains(QStringLiteral("--replace"))));
              return kExitOk;
          },
          {QStringLiteral("--replace")}}},
    };
    return table;
}

// The bank's commands and the journal's.
const Command* findCommand(const QString& name) {
    static const std::map<QString, Command> all = [] {
        std::map<QString, Command> table = commands();
        addJournalCommands(table);
        return table;
    }();
    const auto found = all.find(name);
    return found == all.end() ? nullptr : &found->second;
}

} // namespace

int runBankTool(const QStringList& args, QIODevice& out, QIODevice& err) {
    const QString prefix = QStringLiteral("infotest-bank: ");
    if (args.isEmpty()) {
        err.write(helpText().toUtf8());
        return kExitFailure;
    }
    const QString& name = args.front();
    if (name == QLatin1String("help") || name == QLatin1String("--help") ||
        name == QLatin1String("-h")) {
        out.write(helpText().toUtf8());
        return kExitOk;
    }
    const Command* found = findCommand(name);
    if (!found) {
        writeLine(err, prefix + QStringLiteral("неизвестная команда «%1»; список команд: "
                                               "infotest-bank --help")
                                    .arg(name));
        return kExitFailure;
    }
    const Command& command = *found;
    Context context{{}, {}, {}, out, err};
    const QString usage =
        prefix +
        QStringLiteral("использование: infotest-bank %1").arg(QString::fromUtf8(command.usage));
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (!arg.startsWith(QLatin1String("--"))) {
            context.args << arg;
        } else if (command.switches.contains(arg)) {
            context.switches.insert(arg);
        } else if (command.valued.contains(arg) && i + 1 < args.size()) {
            context.values[arg] = args[++i];
        } else {
            writeLine(err, usage);
            return kExitFailure;
        }
    }
    if (context.args.size() < command.minArgs || context.args.size() > command.maxArgs) {
        writeLine(err, usage);
        return kExitFailure;
    }
    try {
        return command.run(context);
    } catch (const EEngineError& e) {
        writeLine(err, prefix + explainEngineError(e, name, bankOf(context.args, false)));
    } catch (const data::pg::EServerError& e) {
        writeLine(err, prefix + server::explainServerError(e, bankOf(context.args, true)));
    } catch (const Exception& e) {
        writeLine(err, prefix + e.message());
    } catch (const std::exception& e) {
        writeLine(err, prefix + QString::fromUtf8(e.what()));
    }
    return kExitFailure;
}

} // namespace bank

#include "bank/Cli.h"

#include "bank/BankFile.h"
#include "bank/Csv.h"
#include "bank/Moodle.h"
#include "bank/QuestionCsv.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <exception>
#include <functional>
#include <map>

namespace bank {

namespace {

const char* const kHelp =
    R"(infotest-bank — банк вопросов программы «Тесты по информатике» (файл db.mdb)

Использование: infotest-bank КОМАНДА ФАЙЛ [...]

Команды:
  create ФАЙЛ                 создать пустой банк; существующий файл не перезаписывается
                              пример: infotest-bank create db.mdb
  import ФАЙЛ ВОПРОСЫ.csv     добавить вопросы из CSV в конец банка; при ошибке в файле
                              не добавляется ничего, а сообщение называет строку
                              пример: infotest-bank import db.mdb informatics.csv
  export ФАЙЛ [ВЫХОД.csv]     выгрузить вопросы в CSV (без ВЫХОД.csv — в стандартный вывод)
                              пример: infotest-bank export db.mdb вопросы.csv
  check ФАЙЛ                  перечислить всё, на чём споткнётся тест, по строке на
                              проблему; код выхода 1, если что-то найдено
                              пример: infotest-bank check db.mdb
  info ФАЙЛ                   число вопросов, вариантов ответа и пояснений
                              пример: infotest-bank info db.mdb
  export-moodle ФАЙЛ ВЫХОД.xml  выгрузить банк в Moodle XML: по два задания на вопрос
                              (ответ и пояснение), по баллу за каждое
                              пример: infotest-bank export-moodle db.mdb informatics.xml
  help                        эта справка

CSV: UTF-8 (с меткой порядка байтов или без), разделитель «;», «,» или табуляция,
кавычки по RFC 4180. Строка заголовка: Вопрос; Ответ 1; …; Ответ N; Верный ответ;
Пояснение 1; …; Пояснение M; Верное пояснение. Затем по строке на вопрос; в столбцах
«Верный ответ» и «Верное пояснение» — номера верных через запятую или пробел.
Текст — не длиннее 255 символов.

Коды выхода: 0 — успешно, 1 — check нашёл проблемы, 2 — ошибка.
)";

void write(QIODevice& device, const QString& text) {
    device.write(text.toUtf8());
}
void writeLine(QIODevice& device, const QString& text) {
    write(device, text + u'\n');
}

QByteArray readInput(const QString& path) {
    QFile file(path);
    if (!QFileInfo::exists(path))
        throw EToolError(QStringLiteral("файла «%1» нет").arg(path));
    if (!file.open(QIODevice::ReadOnly))
        throw EToolError(
            QStringLiteral("не удаётся прочитать «%1»: %2").arg(path, file.errorString()));
    return file.readAll();
}

// Replaces the file only once everything is written, so that a failure leaves the old one.
void writeOutput(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw EToolError(
            QStringLiteral("не удаётся записать «%1»: %2").arg(path, file.errorString()));
}

struct Context {
    QStringList args; // after the command
    QIODevice& out;
    QIODevice& err;
};

int create(Context& c) {
    createBank(c.args[0]);
    writeLine(c.out, QStringLiteral("Создан пустой банк «%1».").arg(c.args[0]));
    return kExitOk;
}

int importCsv(Context& c) {
    std::vector<Question> questions;
    try {
        questions = parseQuestions(readInput(c.args[1]));
    } catch (const EInputError& e) {
        throw EToolError(
            QStringLiteral("%1, %2. В банк ничего не добавлено.").arg(c.args[1], e.message()));
    }
    const qint64 total = importQuestions(c.args[0], questions);
    writeLine(c.out, QStringLiteral("Добавлено вопросов: %1; теперь в банке «%2» их %3.")
                         .arg(questions.size())
                         .arg(c.args[0])
                         .arg(total));
    return kExitOk;
}

int exportCsv(Context& c) {
    const std::vector<Question> questions = questionsOf(readBank(c.args[0]));
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
    const std::vector<Question> questions = questionsOf(readBank(c.args[0]));
    const QFileInfo bankFile(c.args[0]);
    const QString category =
        bankFile.completeBaseName().isEmpty() ? bankFile.fileName() : bankFile.completeBaseName();
    writeOutput(c.args[1], moodleXml(questions, category));
    writeLine(c.out,
              QStringLiteral("Выгружено в Moodle XML «%1»: вопросов — %2, заданий по 1 баллу — %3.")
                  .arg(c.args[1])
                  .arg(questions.size())
                  .arg(questions.size() * 2));
    return kExitOk;
}

struct Command {
    int minArgs;
    int maxArgs;
    const char* usage;
    std::function<int(Context&)> run;
};

const std::map<QString, Command>& commands() {
    static const std::map<QString, Command> table{
        {QStringLiteral("create"), {1, 1, "create ФАЙЛ", create}},
        {QStringLiteral("import"), {2, 2, "import ФАЙЛ ВОПРОСЫ.csv", importCsv}},
        {QStringLiteral("export"), {1, 2, "export ФАЙЛ [ВЫХОД.csv]", exportCsv}},
        {QStringLiteral("check"), {1, 1, "check ФАЙЛ", check}},
        {QStringLiteral("info"), {1, 1, "info ФАЙЛ", info}},
        {QStringLiteral("export-moodle"), {2, 2, "export-moodle ФАЙЛ ВЫХОД.xml", exportMoodle}},
    };
    return table;
}

} // namespace

int runBankTool(const QStringList& args, QIODevice& out, QIODevice& err) {
    const QString prefix = QStringLiteral("infotest-bank: ");
    if (args.isEmpty()) {
        write(err, QString::fromUtf8(kHelp));
        return kExitFailure;
    }
    const QString& name = args.front();
    if (name == QLatin1String("help") || name == QLatin1String("--help") ||
        name == QLatin1String("-h")) {
        write(out, QString::fromUtf8(kHelp));
        return kExitOk;
    }
    const auto found = commands().find(name);
    if (found == commands().end()) {
        writeLine(err, prefix + QStringLiteral("неизвестная команда «%1»; список команд: "
                                               "infotest-bank --help")
                                    .arg(name));
        return kExitFailure;
    }
    const Command& command = found->second;
    Context context{args.mid(1), out, err};
    if (context.args.size() < command.minArgs || context.args.size() > command.maxArgs) {
        writeLine(err, prefix + QStringLiteral("использование: infotest-bank %1")
                                    .arg(QString::fromUtf8(command.usage)));
        return kExitFailure;
    }
    try {
        return command.run(context);
    } catch (const Exception& e) {
        writeLine(err, prefix + e.message());
    } catch (const std::exception& e) {
        writeLine(err, prefix + QString::fromUtf8(e.what()));
    }
    return kExitFailure;
}

} // namespace bank

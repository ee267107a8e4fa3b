#include "cli/Copy.h"

#include "cli/BankFile.h"
#include "data/Location.h"
#include "data/Schema.h"
#include "data/journal/JournalStore.h"
#include "data/pg/Pg.h"
#include "data/sqlite/Sqlite.h"
#include "server/Server.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <limits>
#include <memory>
#include <optional>
#include <sqlite3.h>

namespace bank {

namespace {

using data::sqlite::Database;
using data::sqlite::Statement;
using data::sqlite::Transaction;

// The key of the bank's tables and of the journal's, whose numbers travel with the rows.
const QString kId = QString::fromUtf8(data::kIdColumn);

// What a destination's column holds. Integers are told apart by width: the file's hold 64
// bits, the server's the width of their type.
enum class Kind { Integer16, Integer32, Integer64, Flag, Text, Bytes, Unknown };

struct Column {
    QString name;
    Kind kind = Kind::Unknown;
    QString type;   // as the engine names it, for messages
    int length = 0; // the most characters a text column takes, 0 for no limit
};

// A value exactly as stored: the file keeps any kind of value in any column, so nothing is
// converted on the way in and the checks see what is really there.
struct Value {
    enum Type { Null, Integer, Real, Text, Blob } type = Null;
    qint64 integer = 0;
    double real = 0;
    QByteArray bytes;
};
using Row = std::vector<Value>;

struct Table {
    QString name;
    std::vector<Column> columns;
    std::vector<Row> rows;
    qint64 highWater = 0; // the highest id ever given, deleted rows' too
};

bool hasId(const std::vector<Column>& columns) {
    return std::any_of(columns.begin(), columns.end(),
                       [](const Column& c) { return c.name == kId; });
}

// The columns' names, each quoted by its engine's quoter.
QString columnList(const std::vector<Column>& columns, QString (*quoted)(const QString&)) {
    QStringList names;
    for (const Column& c : columns)
        names << quoted(c.name);
    return names.join(QLatin1String(", "));
}

// One end of a copy: a bank file with the journal beside it, or a server's database. A source
// reads in one snapshot; a destination writes in one transaction, kept only by commit().
class End {
public:
    virtual ~End() = default;
    // The table's columns in order; none when the end has no such table.
    virtual std::vector<Column> columns(const QString& table) = 0;
    virtual Table read(const QString& table) = 0;
    virtual qint64 rowCount(const QString& table) = 0;
    virtual void clear(const QString& table) = 0;
    virtual void insert(const Table& table, const std::vector<Column>& target) = 0;
    virtual void setHighWater(const QString& table, qint64 highWater) = 0;
    virtual void commit() = 0;
    // Whether a text must be valid UTF-8 without NUL to be stored (the server's rule).
    virtual bool strictText() const = 0;
};

void createJournal(const QString& path) {
    data::journal::JournalStore(path, data::journal::JournalStore::Mode::Record);
}

bool isJournalTable(const QString& table) {
    for (const char* name : server::kJournalTables)
        if (table == QString::fromUtf8(name))
            return true;
    return false;
}

Kind fileKind(const QString& declared) {
    const QString type = declared.toUpper();
    if (type.contains(QLatin1String("BOOL")))
        return Kind::Flag;
    if (type.contains(QLatin1String("INT")))
        return Kind::Integer64;
    if (type.contains(QLatin1String("CHAR")) || type.contains(QLatin1String("TEXT")) ||
        type.contains(QLatin1String("CLOB")))
        return Kind::Text;
    if (type.contains(QLatin1String("BLOB")))
        return Kind::Bytes;
    return Kind::Unknown;
}

class FileEnd : public End {
public:
    FileEnd(const QString& path, bool destination, bool withJournal) : path_(path) {
        const QFileInfo info(path);
        if (destination && !info.exists()) {
            bank::createBank(path);
            createdBank_ = true;
        } else if (!info.exists()) {
            throw EToolError(QStringLiteral("файла «%1» нет").arg(path));
        } else if (info.isDir()) {
            throw EToolError(QStringLiteral("«%1» — папка, а не файл банка").arg(path));
        }
        try {
            open(destination, withJournal);
        } catch (...) {
            discard();
            throw;
        }
    }

    ~FileEnd() override {
        if (!committed_)
            discard();
    }

    void open(bool destination, bool withJournal) {
        db_ = std::make_unique<Database>(path_, destination ? Database::Mode::ReadWrite
                                                            : Database::Mode::ReadOnly);
        // Another program (the quiz itself) may be writing to the bank for a moment.
        db_->setBusyTimeout(5000);
        // Nothing a file carries may run on our statements.
        db_->distrustContents();
        const QString journal = journalPath();
        if (withJournal && destination && !QFileInfo::exists(journal)) {
            createJournal(journal);
            createdJournal_ = true;
        } else if (withJournal && destination) {
            // An older journal gets the columns the source may carry.
            data::journal::JournalStore(journal, data::journal::JournalStore::Mode::Edit);
        }
        if (withJournal && QFileInfo::exists(journal)) {
            Statement attach(*db_, QStringLiteral("ATTACH DATABASE ?1 AS \"journal\""));
            attach.bindText(1, journal);
            attach.run();
            journal_ = true;
        }
        tx_.emplace(*db_, destination ? Transaction::Kind::Write : Transaction::Kind::Read);
    }

    // Rolls back and removes the files this copy made.
    void discard() noexcept {
        tx_.reset(); // closing the connection below rolls back all the same
        db_.reset();
        if (createdJournal_)
            QFile::remove(journalPath());
        if (createdBank_)
            QFile::remove(path_);
    }

    std::vector<Column> columns(const QString& table) override {
        std::vector<Column> out;
        if (isJournalTable(table) && !journal_)
            return out;
        // What the program refuses to read is not copied either.
        const QString schema =
            isJournalTable(table) ? QStringLiteral("journal") : QStringLiteral("main");
        QString why = data::sqlite::tableKindRefusal(*db_, schema, table);
        // table_xinfo, unlike table_info, lists computed columns, with 2 or 3 in "hidden".
        Statement info(*db_, QStringLiteral("PRAGMA %1.table_xinfo(%2)")
                                 .arg(schemaOf(table), data::sqlite::quoted(table)));
        while (why.isEmpty() && info.step()) {
            if (info.columnInt(6) >= 2)
                why = data::sqlite::computedColumnRefusal(info.columnText(1));
            out.push_back({info.columnText(1), fileKind(info.columnText(2)), info.columnText(2)});
        }
        if (!why.isEmpty())
            throw EToolError(QStringLiteral("«%1»: %2; ничего не скопировано").arg(path_, why));
        return out;
    }

    Table read(const QString& table) override {
        Table t{table, columns(table), {}, 0};
        Statement select(*db_,
                         QStringLiteral("SELECT %1 FROM %2 ORDER BY 1, 2")
                             .arg(columnList(t.columns, data::sqlite::quoted), qualified(table)));
        while (select.step()) {
            Row row(t.columns.size());
            for (int c = 0; c < int(row.size()); ++c) {
                Value& v = row[size_t(c)];
                switch (select.columnType(c)) {
                case SQLITE_INTEGER:
                    v.type = Value::Integer;
                    v.integer = select.columnInt(c);
                    break;
                case SQLITE_FLOAT:
                    v.type = Value::Real;
                    v.real = select.columnDouble(c);
                    break;
                case SQLITE_TEXT:
                    v.type = Value::Text;
                    v.bytes = select.columnBytes(c).toByteArray();
                    break;
                case SQLITE_BLOB:
                    v.type = Value::Blob;
                    v.bytes = select.columnBytes(c).toByteArray();
                    break;
                default:
                    break;
                }
            }
            t.rows.push_back(std::move(row));
        }
        if (hasId(t.columns)) {
            Statement top(*db_, QStringLiteral("SELECT max(\"id\") FROM %1").arg(qualified(table)));
            top.step();
            t.highWater = top.columnInt(0);
            if (hasSequences(table)) {
                Statement seq(*db_, QStringLiteral("SELECT \"seq\" FROM %1.sqlite_sequence WHERE "
                                                   "\"name\" = ?1")
                                        .arg(schemaOf(table)));
                seq.bindText(1, table);
                if (seq.step())
                    t.highWater = std::max(t.highWater, seq.columnInt(0));
            }
        }
        return t;
    }

    qint64 rowCount(const QString& table) override {
        Statement count(*db_, QStringLiteral("SELECT count(*) FROM %1").arg(qualified(table)));
        count.step();
        return count.columnInt(0);
    }

    void clear(const QString& table) override {
        Statement(*db_, QStringLiteral("DELETE FROM %1").arg(qualified(table))).run();
    }

    void insert(const Table& table, const std::vector<Column>&) override {
        QStringList marks;
        for (size_t i = 0; i < table.columns.size(); ++i)
            marks << QStringLiteral("?%1").arg(i + 1);
        Statement add(*db_, QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                .arg(qualified(table.name),
                                     columnList(table.columns, data::sqlite::quoted),
                                     marks.join(QLatin1String(", "))));
        for (const Row& row : table.rows) {
            add.reset();
            for (int c = 0; c < int(row.size()); ++c) {
                const Value& v = row[size_t(c)];
                switch (v.type) {
                case Value::Null:
                    add.bindNull(c + 1);
                    break;
                case Value::Integer:
                    add.bindInt(c + 1, v.integer);
                    break;
                case Value::Real:
                    add.bindDouble(c + 1, v.real);
                    break;
                case Value::Text:
                    add.bindTextBytes(c + 1, v.bytes);
                    break;
                case Value::Blob:
                    add.bindBlob(c + 1, v.bytes);
                    break;
                }
            }
            add.run();
        }
    }

    void setHighWater(const QString& table, qint64 highWater) override {
        // Only the bank's tables count ids in sqlite_sequence (AUTOINCREMENT): the journal's
        // take the next after the highest there, which the copied rows already are.
        if (!hasSequences(table))
            return;
        Statement drop(*db_, QStringLiteral("DELETE FROM %1.sqlite_sequence WHERE \"name\" = ?1")
                                 .arg(schemaOf(table)));
        drop.bindText(1, table);
        drop.run();
        if (highWater <= 0)
            return;
        Statement set(*db_, QStringLiteral("INSERT INTO %1.sqlite_sequence (\"name\", \"seq\") "
                                           "VALUES (?1, ?2)")
                                .arg(schemaOf(table)));
        set.bindText(1, table);
        set.bindInt(2, highWater);
        set.run();
    }

    void commit() override {
        tx_->commit();
        committed_ = true;
    }

    bool strictText() const override { return false; }

private:
    QString journalPath() const { return data::journal::journalPathForBank(path_); }
    static QString schemaOf(const QString& table) {
        return isJournalTable(table) ? QStringLiteral("\"journal\"") : QStringLiteral("\"main\"");
    }
    static QString qualified(const QString& table) {
        return schemaOf(table) + u'.' + data::sqlite::quoted(table);
    }
    bool hasSequences(const QString& table) {
        Statement st(*db_, QStringLiteral("SELECT count(*) FROM %1.sqlite_schema WHERE \"name\" = "
                                          "'sqlite_sequence'")
                               .arg(schemaOf(table)));
        st.step();
        return st.columnInt(0) > 0;
    }

    QString path_;
    std::unique_ptr<Database> db_;
    std::optional<Transaction> tx_;
    bool journal_ = false;
    bool createdBank_ = false;
    bool createdJournal_ = false;
    bool committed_ = false;
};

Kind serverKind(const QString& type) {
    if (type == QLatin1String("int2"))
        return Kind::Integer16;
    if (type == QLatin1String("int4"))
        return Kind::Integer32;
    if (type == QLatin1String("int8"))
        return Kind::Integer64;
    if (type == QLatin1String("bool"))
        return Kind::Flag;
    if (type == QLatin1String("text") || type == QLatin1String("varchar") ||
        type == QLatin1String("bpchar"))
        return Kind::Text;
    if (type == QLatin1String("bytea"))
        return Kind::Bytes;
    return Kind::Unknown;
}

using data::pg::quoted;
using data::pg::Result;

class ServerEnd : public End {
public:
    ServerEnd(const QString& url, bool destination) : db_(server::connect(url)), tx_(db_) {
        if (!destination)
            db_.exec(QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ READ ONLY"));
    }

    std::vector<Column> columns(const QString& table) override {
        const Result rows = db_.exec(
            QStringLiteral(
                "SELECT a.attname, t.typname, a.atttypmod FROM pg_catalog.pg_attribute a JOIN "
                "pg_catalog.pg_type t ON t.oid = a.atttypid WHERE a.attrelid = "
                "to_regclass($1) AND a.attnum > 0 AND NOT a.attisdropped ORDER BY "
                "a.attnum"),
            {quoted(table)});
        std::vector<Column> out;
        for (int r = 0; r < rows.rows(); ++r) {
            const QString type = rows.text(r, 1);
            const qint64 modifier = rows.integer(r, 2); // varchar(n) keeps n + 4
            out.push_back(
                {rows.text(r, 0), serverKind(type), type,
                 type == QLatin1String("varchar") && modifier > 4 ? int(modifier - 4) : 0});
        }
        return out;
    }

    Table read(const QString& table) override {
        Table t{table, columns(table), {}, 0};
        const Result rows = db_.exec(QStringLiteral("SELECT %1 FROM %2 ORDER BY 1, 2")
                                         .arg(columnList(t.columns, quoted), quoted(table)));
        for (int r = 0; r < rows.rows(); ++r) {
            Row row(t.columns.size());
            for (int c = 0; c < int(row.size()); ++c) {
                Value& v = row[size_t(c)];
                if (rows.isNull(r, c))
                    continue;
                switch (t.columns[size_t(c)].kind) {
                case Kind::Flag:
                    v.type = Value::Integer;
                    v.integer = rows.flag(r, c) ? 1 : 0;
                    break;
                case Kind::Bytes:
                    v.type = Value::Blob;
                    v.bytes = rows.binary(r, c);
                    break;
                case Kind::Text:
                case Kind::Unknown:
                    v.type = Value::Text;
                    v.bytes = rows.bytes(r, c);
                    break;
                default:
                    v.type = Value::Integer;
                    v.integer = rows.integer(r, c);
                }
            }
            t.rows.push_back(std::move(row));
        }
        if (hasId(t.columns)) {
            const Result top = db_.exec(
                QStringLiteral("SELECT coalesce(max(%2), 0), pg_catalog.pg_sequence_last_value("
                               "pg_catalog.pg_get_serial_sequence($1, $2)) FROM %1")
                    .arg(quoted(table), quoted(kId)),
                {quoted(table), kId});
            t.highWater = top.integer(0, 0);
            if (!top.isNull(0, 1))
                t.highWater = std::max(t.highWater, top.integer(0, 1));
        }
        return t;
    }

    qint64 rowCount(const QString& table) override {
        return db_.exec(QStringLiteral("SELECT count(*) FROM %1").arg(quoted(table))).integer(0, 0);
    }

    void clear(const QString& table) override {
        db_.exec(QStringLiteral("DELETE FROM %1").arg(quoted(table)));
    }

    void insert(const Table& table, const std::vector<Column>& target) override {
        QStringList marks;
        std::vector<Kind> kinds;
        for (size_t i = 0; i < table.columns.size(); ++i) {
            marks << QStringLiteral("$%1").arg(i + 1);
            for (const Column& c : target)
                if (c.name == table.columns[i].name)
                    kinds.push_back(c.kind);
        }
        const QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                .arg(quoted(table.name), columnList(table.columns, quoted),
                                     marks.join(QLatin1String(", ")));
        std::vector<QVariant> params(table.columns.size());
        for (const Row& row : table.rows) {
            for (size_t c = 0; c < row.size(); ++c) {
                const Value& v = row[c];
                if (v.type == Value::Null)
                    params[c] = QVariant();
                else if (kinds[c] == Kind::Flag)
                    params[c] = v.integer != 0;
                else if (v.type == Value::Integer)
                    params[c] = v.integer;
                else if (v.type == Value::Blob)
                    params[c] = v.bytes;
                else
                    params[c] = QString::fromUtf8(v.bytes);
            }
            db_.exec(sql, params);
        }
    }

    void setHighWater(const QString& table, qint64 highWater) override {
        // A sequence that never gave a number starts at 1 again.
        db_.exec(QStringLiteral("SELECT pg_catalog.setval(pg_catalog.pg_get_serial_sequence($1, "
                                "$4), $2, $3)"),
                 {quoted(table), std::max<qint64>(highWater, 1), highWater > 0, kId});
    }

    void commit() override { tx_.commit(); }

    bool strictText() const override { return true; }

private:
    data::pg::Connection db_;
    data::pg::Transaction tx_;
};

std::unique_ptr<End> openEnd(const QString& bank, bool destination, bool withJournal) {
    if (data::Location(bank).isServer())
        return std::make_unique<ServerEnd>(bank, destination);
    return std::make_unique<FileEnd>(bank, destination, withJournal);
}

// Why the destination's column cannot hold the value; empty when it can.
QString refusal(const Value& v, const Column& target, bool strictText) {
    if (v.type == Value::Null)
        return {};
    if (v.type == Value::Real)
        return QStringLiteral("дробное число %1 в поле типа %2").arg(v.real).arg(target.type);
    switch (target.kind) {
    case Kind::Integer16:
    case Kind::Integer32:
    case Kind::Integer64: {
        if (v.type != Value::Integer)
            return QStringLiteral("не число, а %1 в числовом поле")
                .arg(v.type == Value::Text ? u'«' + QString::fromUtf8(v.bytes) + u'»'
                                           : QStringLiteral("двоичные данные"));
        const int bits = target.kind == Kind::Integer16   ? 16
                         : target.kind == Kind::Integer32 ? 32
                                                          : 64;
        const qint64 low =
            bits == 64 ? std::numeric_limits<qint64>::min() : -(qint64(1) << (bits - 1));
        const qint64 high =
            bits == 64 ? std::numeric_limits<qint64>::max() : (qint64(1) << (bits - 1)) - 1;
        if (v.integer < low || v.integer > high)
            return QStringLiteral("число %1 не помещается в %2-битное поле")
                .arg(v.integer)
                .arg(bits);
        return {};
    }
    case Kind::Flag:
        if (v.type != Value::Integer || (v.integer != 0 && v.integer != 1))
            return QStringLiteral("в логическом поле %1, а бывают только 0 и 1")
                .arg(v.type == Value::Integer ? QString::number(v.integer)
                                              : u'«' + QString::fromUtf8(v.bytes) + u'»');
        return {};
    case Kind::Text:
        if (v.type != Value::Text)
            return v.type == Value::Integer
                       ? QStringLiteral("число %1 в текстовом поле").arg(v.integer)
                       : QStringLiteral("двоичные данные (%1 байт) в текстовом поле")
                             .arg(v.bytes.size());
        if (strictText && QString::fromUtf8(v.bytes).toUtf8() != v.bytes)
            return QStringLiteral("текст не в кодировке UTF-8");
        if (strictText && v.bytes.contains('\0'))
            return QStringLiteral("в тексте есть нулевой символ (NUL)");
        if (const int length = textLength(QString::fromUtf8(v.bytes));
            target.length > 0 && length > target.length)
            return QStringLiteral("текст длиннее %1 символов (%2): поле вмещает %1")
                .arg(target.length)
                .arg(length);
        return {};
    case Kind::Bytes:
        if (v.type != Value::Blob)
            return QStringLiteral("не двоичные данные в поле типа %1").arg(target.type);
        return {};
    case Kind::Unknown:
        break;
    }
    return QStringLiteral("поле типа %1 не переносится").arg(target.type);
}

// "«Т_Вопросы», id 7": the row's key, its first column, and its second where it is no id.
QString rowLabel(const Table& table, const Row& row) {
    QStringList key;
    const size_t parts = hasId(table.columns) ? 1 : 2;
    for (size_t c = 0; c < parts && c < row.size(); ++c)
        key << QStringLiteral("%1 %2").arg(
            table.columns[c].name, row[c].type == Value::Integer ? QString::number(row[c].integer)
                                                                 : QString::fromUtf8(row[c].bytes));
    return QStringLiteral("«%1», %2").arg(table.name, key.join(QLatin1String(", ")));
}

// How many refused values a message lists before it says how many more there are.
constexpr int kListedValues = 20;

// The source's bank and, when the source has every table of one, its journal; each value as
// stored.
struct SourceTables {
    std::vector<Table> tables;
    bool journal = false;
};

SourceTables readSource(const QString& source) {
    SourceTables read;
    auto from = openEnd(source, false, true);
    for (const char* name : data::kBankTables) {
        read.tables.push_back(from->read(QString::fromUtf8(name)));
        if (read.tables.back().columns.empty())
            throw EToolError(QStringLiteral("«%1» не является банком вопросов: нет таблицы "
                                            "«%2»")
                                 .arg(source, QString::fromUtf8(name)));
    }
    // A part the source lacks is left alone at the destination.
    int present = 0;
    for (const char* name : server::kJournalTables)
        present += !from->columns(QString::fromUtf8(name)).empty();
    read.journal = present == int(std::size(server::kJournalTables));
    for (const char* name : server::kJournalTables)
        if (read.journal)
            read.tables.push_back(from->read(QString::fromUtf8(name)));
    return read;
}

// An empty journal makes no file where there was none: it is left out of the copy, and true
// returned.
bool dropEmptyJournal(SourceTables& read, const QString& destination) {
    qint64 journalRows = 0;
    for (size_t i = std::size(data::kBankTables); i < read.tables.size(); ++i)
        journalRows += qint64(read.tables[i].rows.size());
    const bool emptyJournal = read.journal && journalRows == 0 &&
                              !data::Location(destination).isServer() &&
                              !QFileInfo::exists(data::journal::journalPathForBank(destination));
    if (emptyJournal) {
        read.journal = false;
        read.tables.resize(std::size(data::kBankTables));
    }
    return emptyJournal;
}

// The destination's column of each of the table's columns, by value: the destination's list
// ends here. Throws when the destination lacks the table or has other fields.
std::vector<Column> matchedColumns(End& to, const Table& t, const QString& source,
                                   const QString& destination) {
    const std::vector<Column> target = to.columns(t.name);
    if (target.empty())
        throw EToolError(
            data::Location(destination).isServer()
                ? QStringLiteral("в базе «%1» нет таблицы «%2»: создайте таблицы командой "
                                 "infotest-bank server-init")
                      .arg(destination, t.name)
                : QStringLiteral("«%1» не является банком вопросов: нет таблицы «%2»")
                      .arg(destination, t.name));
    std::vector<Column> matched;
    bool allFound = true;
    for (const Column& c : t.columns) {
        const auto found = std::find_if(target.begin(), target.end(),
                                        [&](const Column& d) { return d.name == c.name; });
        allFound = allFound && found != target.end();
        if (found != target.end())
            matched.push_back(*found);
    }
    // A journal made before the reported login has none: its runs' logins were known.
    const auto optional = [&](const Column& d) {
        return d.name == QString::fromUtf8(data::journal::kReportedLoginColumn) &&
               std::none_of(t.columns.begin(), t.columns.end(),
                            [&](const Column& c) { return c.name == d.name; });
    };
    if (target.size() !=
            t.columns.size() + size_t(std::count_if(target.begin(), target.end(), optional)) ||
        !allFound)
        throw EToolError(QStringLiteral("у таблицы «%1» в «%2» не те поля, что в «%3»: "
                                        "копия была бы неполной")
                             .arg(t.name, destination, source));
    return matched;
}

// Refuses the copy before anything is written: a table the destination lacks or holds with
// other fields, a value its column cannot take, rows already there unless they are replaced.
void checkDestination(End& to, const std::vector<Table>& tables, const QString& source,
                      const QString& destination, bool replace) {
    QStringList refused, occupied;
    qint64 refusedCount = 0;
    for (const Table& t : tables) {
        const std::vector<Column> matched = matchedColumns(to, t, source, destination);
        for (const Row& row : t.rows)
            for (size_t c = 0; c < row.size(); ++c)
                if (const QString why = refusal(row[c], matched[c], to.strictText());
                    !why.isEmpty() && ++refusedCount <= kListedValues)
                    refused << QStringLiteral("%1, поле «%2»: %3")
                                   .arg(rowLabel(t, row), t.columns[c].name, why);
        if (const qint64 rows = to.rowCount(t.name); rows > 0)
            occupied << QStringLiteral("«%1» — %2").arg(t.name).arg(rows);
    }
    if (refusedCount > kListedValues)
        refused << QStringLiteral("и ещё %1").arg(refusedCount - kListedValues);
    if (!refused.isEmpty())
        throw EToolError(QStringLiteral("«%1» не вмещает %2 из «%3»; ничего не скопировано. "
                                        "Исправьте их в источнике:\n%4")
                             .arg(destination,
                                  plural(refusedCount, "значение", "значения", "значений"), source,
                                  refused.join(u'\n')));
    if (!occupied.isEmpty() && !replace)
        throw EToolError(QStringLiteral("в «%1» уже есть строки (%2); ничего не скопировано. "
                                        "Чтобы заменить их копией, укажите --replace")
                             .arg(destination, occupied.join(QLatin1String(", "))));
}

void writeTables(End& to, const std::vector<Table>& tables, bool replace) {
    for (const Table& t : tables) {
        if (replace)
            to.clear(t.name);
        to.insert(t, to.columns(t.name));
        if (hasId(t.columns))
            to.setHighWater(t.name, t.highWater);
    }
}

QStringList copyReport(const SourceTables& copied, bool emptyJournal, const QString& source,
                       const QString& destination) {
    const std::vector<Table>& tables = copied.tables;
    QStringList report{
        QStringLiteral("Банк скопирован из «%1» в «%2»: %3.")
            .arg(source, destination,
                 countsText(qint64(tables[0].rows.size()), qint64(tables[1].rows.size()),
                            qint64(tables[2].rows.size())))};
    if (copied.journal)
        report << QStringLiteral("Журнал результатов скопирован: %1.")
                      .arg(plural(qint64(tables[3].rows.size()), "прохождение", "прохождения",
                                  "прохождений"));
    else if (emptyJournal)
        report << QStringLiteral("Журнал результатов пуст: копировать нечего.");
    else
        report << QStringLiteral("Журнала результатов у «%1» нет: журнал «%2» не тронут.")
                      .arg(source, destination);
    return report;
}

} // namespace

QStringList copyBank(const QString& source, const QString& destination, bool replace) {
    if (source == destination)
        throw EToolError(
            QStringLiteral("источник и назначение — один и тот же банк «%1»").arg(source));
    SourceTables read = readSource(source);
    const bool emptyJournal = dropEmptyJournal(read, destination);
    auto to = openEnd(destination, true, read.journal);
    checkDestination(*to, read.tables, source, destination, replace);
    writeTables(*to, read.tables, replace);
    to->commit();
    return copyReport(read, emptyJournal, source, destination);
}

ServerSnapshot::ServerSnapshot(const QString& url) {
    if (!dir_.isValid())
        throw EToolError(
            QStringLiteral("не удаётся создать временную папку: %1").arg(dir_.errorString()));
    copyBank(url, bankPath(), false);
}

QString ServerSnapshot::bankPath() const {
    return dir_.filePath(QString::fromUtf8(data::kBankFileName));
}

} // namespace bank

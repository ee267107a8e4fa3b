#include "data/Row.h"

#include "data/Sqlite.h"

#include <cstring>
#include <sqlite3.h>
#include <vector>

namespace data {

namespace {

constexpr std::size_t kSizeBytes = sizeof(std::uint32_t);

template <typename T> T load(const char* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

template <typename T> void store(char* at, T value) {
    std::memcpy(at, &value, sizeof value);
}

// Builds a block from cells appended one after another.
class Builder {
public:
    void add(CellType type, QByteArrayView payload) {
        bytes_.push_back(char(type));
        if (type == CellType::Text || type == CellType::Blob) {
            char length[kSizeBytes];
            store(length, std::uint32_t(payload.size()));
            bytes_.insert(bytes_.end(), length, length + kSizeBytes);
        }
        bytes_.insert(bytes_.end(), payload.begin(), payload.end());
    }
    void addInteger(qint64 value) {
        char payload[sizeof value];
        store(payload, value);
        add(CellType::Integer, QByteArrayView(payload, sizeof payload));
    }
    void addReal(double value) {
        char payload[sizeof value];
        store(payload, value);
        add(CellType::Float, QByteArrayView(payload, sizeof payload));
    }
    std::unique_ptr<char[]> finish() {
        const std::size_t total = kSizeBytes + bytes_.size();
        auto block = std::make_unique_for_overwrite<char[]>(total);
        store(block.get(), std::uint32_t(total));
        std::memcpy(block.get() + kSizeBytes, bytes_.data(), bytes_.size());
        return block;
    }

private:
    std::vector<char> bytes_;
};

} // namespace

RowData::RowData(int count) {
    Builder builder;
    for (int i = 0; i < count; ++i)
        builder.add(CellType::Null, {});
    block_ = builder.finish();
}

RowData RowData::fromStatement(const sqlite::Statement& statement, int firstColumn, int count) {
    Builder builder;
    for (int column = firstColumn; column < firstColumn + count; ++column) {
        switch (statement.columnType(column)) {
        case SQLITE_INTEGER:
            builder.addInteger(statement.columnInt(column));
            break;
        case SQLITE_FLOAT:
            builder.addReal(statement.columnDouble(column));
            break;
        case SQLITE_TEXT:
            builder.add(CellType::Text, statement.columnBytes(column));
            break;
        case SQLITE_BLOB:
            builder.add(CellType::Blob, statement.columnBytes(column));
            break;
        default:
            builder.add(CellType::Null, {});
            break;
        }
    }
    RowData row;
    row.block_ = builder.finish();
    return row;
}

RowData::RowData(const RowData& other) {
    *this = other;
}

RowData& RowData::operator=(const RowData& other) {
    if (this == &other)
        return *this;
    if (!other.block_) {
        block_.reset();
        return *this;
    }
    const std::uint32_t size = other.blockSize();
    block_ = std::make_unique_for_overwrite<char[]>(size);
    std::memcpy(block_.get(), other.block_.get(), size);
    return *this;
}

std::uint32_t RowData::blockSize() const {
    return block_ ? load<std::uint32_t>(block_.get()) : 0;
}

std::size_t RowData::cellSize(const char* at) const {
    switch (CellType(*at)) {
    case CellType::Null:
        return 1;
    case CellType::Integer:
    case CellType::Float:
        return 1 + 8;
    case CellType::Text:
    case CellType::Blob:
        return 1 + kSizeBytes + load<std::uint32_t>(at + 1);
    }
    return 1;
}

int RowData::count() const {
    int n = 0;
    const char* end = block_.get() + blockSize();
    for (const char* at = block_ ? block_.get() + kSizeBytes : end; at < end; at += cellSize(at))
        ++n;
    return n;
}

const char* RowData::cell(int i) const {
    const char* at = block_.get() + kSizeBytes;
    for (; i > 0; --i)
        at += cellSize(at);
    return at;
}

CellType RowData::type(int i) const {
    return CellType(*cell(i));
}

qint64 RowData::integer(int i) const {
    return load<qint64>(cell(i) + 1);
}

double RowData::real(int i) const {
    return load<double>(cell(i) + 1);
}

QByteArrayView RowData::bytes(int i) const {
    const char* at = cell(i);
    return QByteArrayView(at + 1 + kSizeBytes, load<std::uint32_t>(at + 1));
}

QVariant RowData::value(int i) const {
    switch (type(i)) {
    case CellType::Null:
        return QVariant();
    case CellType::Integer:
        return QVariant(integer(i));
    case CellType::Float:
        return QVariant(real(i));
    case CellType::Text:
        return QVariant(QString::fromUtf8(bytes(i)));
    case CellType::Blob:
        return QVariant(bytes(i).toByteArray());
    }
    return QVariant();
}

void RowData::replaceCell(int i, CellType type, QByteArrayView payload) {
    Builder builder;
    const int n = count();
    for (int k = 0; k < n; ++k) {
        if (k != i) {
            const char* at = cell(k);
            const CellType kind = CellType(*at);
            const std::size_t header =
                kind == CellType::Text || kind == CellType::Blob ? 1 + kSizeBytes : 1;
            builder.add(kind, QByteArrayView(at + header, qsizetype(cellSize(at) - header)));
        } else {
            builder.add(type, payload);
        }
    }
    block_ = builder.finish();
}

void RowData::setValue(int i, const QVariant& value) {
    if (value.isNull()) {
        replaceCell(i, CellType::Null, {});
        return;
    }
    char number[8];
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        store(number, value.toLongLong());
        replaceCell(i, CellType::Integer, QByteArrayView(number, 8));
        return;
    case QMetaType::Double:
        store(number, value.toDouble());
        replaceCell(i, CellType::Float, QByteArrayView(number, 8));
        return;
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        replaceCell(i, CellType::Blob, bytes);
        return;
    }
    default: {
        const QByteArray utf8 = value.toString().toUtf8();
        replaceCell(i, CellType::Text, utf8);
        return;
    }
    }
}

void RowData::setCell(int i, const RowData& other, int j) {
    const char* at = other.cell(j);
    const CellType kind = CellType(*at);
    const std::size_t header =
        kind == CellType::Text || kind == CellType::Blob ? 1 + kSizeBytes : 1;
    // The payload lives in the other row's block, which replaceCell does not touch.
    replaceCell(i, kind, QByteArrayView(at + header, qsizetype(other.cellSize(at) - header)));
}

bool RowData::sameCell(int i, const RowData& other, int j) const {
    const char* a = cell(i);
    const char* b = other.cell(j);
    const std::size_t size = cellSize(a);
    return size == other.cellSize(b) && std::memcmp(a, b, size) == 0;
}

void RowData::bind(sqlite::Statement& statement, int parameter, int i) const {
    switch (type(i)) {
    case CellType::Null:
        statement.bindNull(parameter);
        break;
    case CellType::Integer:
        statement.bindInt(parameter, integer(i));
        break;
    case CellType::Float:
        statement.bindDouble(parameter, real(i));
        break;
    case CellType::Text:
        statement.bindTextBytes(parameter, bytes(i));
        break;
    case CellType::Blob:
        statement.bindBlob(parameter, bytes(i));
        break;
    }
}

} // namespace data

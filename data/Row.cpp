#include "data/Row.h"

#include <cstring>
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

RowData RowData::fromCells(const CellView* cells, int count) {
    // Measured first, then written into a block of the exact size: one allocation per row.
    std::size_t total = kSizeBytes;
    for (int i = 0; i < count; ++i) {
        switch (cells[i].type) {
        case CellType::Integer:
        case CellType::Float:
            total += 1 + 8;
            break;
        case CellType::Text:
        case CellType::Blob:
            total += 1 + kSizeBytes + std::size_t(cells[i].bytes.size());
            break;
        case CellType::Null:
            total += 1;
            break;
        }
    }
    RowData row;
    row.block_ = std::make_unique_for_overwrite<char[]>(total);
    char* at = row.block_.get();
    store(at, std::uint32_t(total));
    at += kSizeBytes;
    for (int i = 0; i < count; ++i) {
        const CellView& cell = cells[i];
        *at++ = char(cell.type);
        switch (cell.type) {
        case CellType::Integer:
            store(at, cell.integer);
            at += 8;
            break;
        case CellType::Float:
            store(at, cell.real);
            at += 8;
            break;
        case CellType::Text:
        case CellType::Blob:
            store(at, std::uint32_t(cell.bytes.size()));
            at += kSizeBytes;
            if (!cell.bytes.isEmpty())
                std::memcpy(at, cell.bytes.data(), size_t(cell.bytes.size()));
            at += cell.bytes.size();
            break;
        case CellType::Null:
            break;
        }
    }
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
    const char* old = cell(i);
    const std::size_t oldSize = cellSize(old);
    const bool sized = type == CellType::Text || type == CellType::Blob;
    const std::size_t newSize = 1 + (sized ? kSizeBytes : 0) + std::size_t(payload.size());
    const std::size_t before = std::size_t(old - block_.get());
    const std::size_t after = blockSize() - before - oldSize;
    const std::size_t total = before + newSize + after;
    auto block = std::make_unique_for_overwrite<char[]>(total);
    std::memcpy(block.get(), block_.get(), before);
    store(block.get(), std::uint32_t(total));
    char* at = block.get() + before;
    *at++ = char(type);
    if (sized) {
        store(at, std::uint32_t(payload.size()));
        at += kSizeBytes;
    }
    if (!payload.isEmpty())
        std::memcpy(at, payload.data(), size_t(payload.size()));
    std::memcpy(block.get() + before + newSize, old + oldSize, after);
    block_ = std::move(block);
}

bool RowData::holds(int i, const QVariant& value) const {
    if (value.isNull())
        return type(i) == CellType::Null;
    return value.typeId() == QMetaType::LongLong && type(i) == CellType::Integer &&
           integer(i) == value.toLongLong();
}

CellType cellTypeOf(const QVariant& value) {
    if (value.isNull())
        return CellType::Null;
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return CellType::Integer;
    case QMetaType::Double:
        return CellType::Float;
    case QMetaType::QByteArray:
        return CellType::Blob;
    default:
        return CellType::Text;
    }
}

void RowData::setValue(int i, const QVariant& value) {
    char number[8];
    const CellType type = cellTypeOf(value);
    switch (type) {
    case CellType::Null:
        replaceCell(i, type, {});
        return;
    case CellType::Integer:
        store(number, value.toLongLong());
        replaceCell(i, type, QByteArrayView(number, 8));
        return;
    case CellType::Float:
        store(number, value.toDouble());
        replaceCell(i, type, QByteArrayView(number, 8));
        return;
    case CellType::Blob:
        replaceCell(i, type, value.toByteArray());
        return;
    case CellType::Text:
        replaceCell(i, type, value.toString().toUtf8());
        return;
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

bool RowData::sameAs(const RowData& other) const {
    const std::uint32_t size = blockSize();
    return size == other.blockSize() &&
           (size == 0 || std::memcmp(block_.get(), other.block_.get(), size) == 0);
}

bool RowData::sameCell(int i, const RowData& other, int j) const {
    const char* a = cell(i);
    const char* b = other.cell(j);
    const std::size_t size = cellSize(a);
    return size == other.cellSize(b) && std::memcmp(a, b, size) == 0;
}

CellView RowData::cellView(int i) const {
    const char* at = cell(i);
    CellView view;
    view.type = CellType(*at);
    switch (view.type) {
    case CellType::Integer:
        view.integer = load<qint64>(at + 1);
        break;
    case CellType::Float:
        view.real = load<double>(at + 1);
        break;
    case CellType::Text:
    case CellType::Blob:
        view.bytes = QByteArrayView(at + 1 + kSizeBytes, load<std::uint32_t>(at + 1));
        break;
    case CellType::Null:
        break;
    }
    return view;
}

} // namespace data

#pragma once

#include <QByteArrayView>
#include <QVariant>
#include <cstdint>
#include <memory>

namespace data {

// The storage classes of a cell, kept exactly as read: an integer stays a 64-bit integer, a
// text keeps its stored bytes (even when they are not valid UTF-8), a blob stays a blob. Each
// engine maps its own types to these in one place (SqliteEngine.cpp, PgEngine.cpp).
enum class CellType : std::uint8_t { Null, Integer, Float, Text, Blob };

// The storage class a program's value is kept in: null; Booleans and integers as integers;
// floating point as a float; a QByteArray as a blob; anything else as its text.
CellType cellTypeOf(const QVariant& value);

// One cell as an engine hands it over while a row is read; bytes for a text or a blob.
struct CellView {
    CellType type = CellType::Null;
    qint64 integer = 0;
    double real = 0;
    QByteArrayView bytes;
};

// The cells of one row packed into one block of memory: a bank of 100,000 questions holds
// 900,000 rows, and a QVariant per cell (with a QString per text) would take twice the memory
// of the rows themselves.
class RowData {
public:
    RowData() = default;
    // A row of count null cells.
    explicit RowData(int count);
    // A row of these cells, copied into one block.
    static RowData fromCells(const CellView* cells, int count);

    RowData(const RowData& other);
    RowData& operator=(const RowData& other);
    RowData(RowData&&) noexcept = default;
    RowData& operator=(RowData&&) noexcept = default;

    int count() const;
    CellType type(int i) const;
    qint64 integer(int i) const;
    double real(int i) const;
    // The stored bytes of a text or blob cell.
    QByteArrayView bytes(int i) const;
    // Null; qint64; double; QString for a text (bytes that are not UTF-8 read as best they can);
    // QByteArray for a blob.
    QVariant value(int i) const;
    // The reverse of value(): QString becomes text, QByteArray a blob, Booleans and integers
    // integers, floating point a float, null null.
    void setValue(int i, const QVariant& value);
    // Copies cell j of another row into cell i, bytes and storage class unchanged.
    void setCell(int i, const RowData& other, int j);

    // Whether cell i already holds this null or 64-bit integer (other values: false), so that
    // writing it again can be skipped.
    bool holds(int i, const QVariant& value) const;
    // Every cell the same, as sameCell compares them.
    bool sameAs(const RowData& other) const;
    // Same storage class and same bytes: what SQLite's IS compares.
    bool sameCell(int i, const RowData& other, int j) const;
    // Cell i as the engines' mappings read it.
    CellView cellView(int i) const;

private:
    // The block: total size (4 bytes), then each cell: its type (1 byte) and its payload:
    // none for null, 8 bytes for integer and float, a 4-byte length and the bytes for text and
    // blob.
    const char* cell(int i) const;
    std::size_t cellSize(const char* cell) const;
    std::uint32_t blockSize() const;
    void replaceCell(int i, CellType type, QByteArrayView payload);

    std::unique_ptr<char[]> block_;
};

} // namespace data

#pragma once

#include <QString>
#include <QVariant>

namespace data {

class Table;

// The kind of a field as the bank declares its column. Integer, SmallInt and AutoInc are one
// kind; String and WideString are one kind; Boolean stands alone. Other kinds match none.
enum class FieldType {
    Integer,
    SmallInt,
    AutoInc,
    String,
    WideString,
    Boolean,
    Float,
    Blob,
    Other
};

QString fieldTypeName(FieldType type);
bool sameKind(FieldType a, FieldType b);

// One declared field of a table: its name, type and display settings, and access to its value
// in the table's active row.
class Field {
public:
    Field(Table& table, const QString& name, FieldType type, int displayWidth, bool readOnly,
          int size = 0);

    const QString& fieldName() const { return name_; }
    FieldType dataType() const { return type_; }
    int displayWidth() const { return displayWidth_; }
    int size() const { return size_; }
    bool readOnly() const { return readOnly_; }
    // The column title in a grid: the field's name.
    const QString& displayLabel() const { return name_; }
    Table& table() const { return table_; }

    // The value in the active row, converted to the field's kind; null for a null field or
    // when the table shows no row.
    QVariant value() const;
    bool isNull() const { return value().isNull(); }
    // False for a null field.
    bool asBoolean() const;
    // Throws EVariantError for a null field, as turning a null into text does.
    QString asString() const;
    // What a grid shows: empty for null, "True"/"False" for Booleans.
    QString displayText() const;

    // Writes into the current row; the table must be editing or inserting.
    void setValue(const QVariant& value);

    // The value as it is kept in a row for this field's kind (Booleans and integers as
    // 64-bit integers, texts as strings); null stays null.
    QVariant toStored(const QVariant& value) const;
    QVariant fromStored(const QVariant& stored) const;

    // Position among the table's declared fields.
    int index() const { return index_; }

private:
    friend class Table;
    // The number as the field's 32-bit integer; out of range is an error naming table and field.
    int checkedInteger(qint64 number) const;
    Table& table_;
    int index_ = -1;
    QString name_;
    FieldType type_;
    int displayWidth_;
    bool readOnly_;
    int size_;
};

// Turns a value into text as a caption needs it. A null cannot be turned into text.
QString variantToString(const QVariant& value);

} // namespace data

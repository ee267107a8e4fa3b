#include "data/Field.h"

#include "data/Errors.h"
#include "data/Table.h"

#include <limits>

namespace data {

QString fieldTypeName(FieldType type) {
    switch (type) {
    case FieldType::Integer:
        return QStringLiteral("Integer");
    case FieldType::SmallInt:
        return QStringLiteral("SmallInt");
    case FieldType::AutoInc:
        return QStringLiteral("AutoInc");
    case FieldType::String:
        return QStringLiteral("String");
    case FieldType::WideString:
        return QStringLiteral("WideString");
    case FieldType::Boolean:
        return QStringLiteral("Boolean");
    case FieldType::Float:
        return QStringLiteral("Float");
    case FieldType::Blob:
        return QStringLiteral("Blob");
    case FieldType::Other:
        return QStringLiteral("Unknown");
    }
    return QString();
}

namespace {

int kindOf(FieldType type) {
    switch (type) {
    case FieldType::Integer:
    case FieldType::SmallInt:
    case FieldType::AutoInc:
        return 1;
    case FieldType::String:
    case FieldType::WideString:
        return 2;
    case FieldType::Boolean:
        return 3;
    case FieldType::Float:
        return 4;
    case FieldType::Blob:
        return 5;
    case FieldType::Other:
        return 0;
    }
    return 0;
}

bool isIntegerKind(FieldType type) {
    return kindOf(type) == 1;
}
bool isTextKind(FieldType type) {
    return kindOf(type) == 2;
}

bool isNumber(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

} // namespace

bool sameKind(FieldType a, FieldType b) {
    return kindOf(a) != 0 && kindOf(a) == kindOf(b);
}

Field::Field(Table& table, const QString& name, FieldType type, int displayWidth, bool readOnly,
             int size)
    : table_(table), name_(name), type_(type), displayWidth_(displayWidth), readOnly_(readOnly),
      size_(size) {}

QVariant Field::value() const {
    return fromStored(table_.storedValue(*this));
}

bool Field::asBoolean() const {
    const QVariant v = value();
    return !v.isNull() && v.toBool();
}

QString Field::asString() const {
    return variantToString(value());
}

QString Field::displayText() const {
    const QVariant stored = table_.storedValue(*this);
    if (stored.isNull())
        return QString();
    // Painting never fails: an integer too large for the field is shown as stored.
    if (isIntegerKind(type_) && stored.typeId() == QMetaType::LongLong)
        return QString::number(stored.toLongLong());
    const QVariant v = fromStored(stored);
    if (type_ == FieldType::Boolean && v.typeId() == QMetaType::Bool)
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    return v.toString();
}

void Field::setValue(const QVariant& value) {
    table_.setStoredValue(*this, toStored(value));
}

QVariant Field::fromStored(const QVariant& stored) const {
    if (stored.isNull())
        return QVariant();
    if (isIntegerKind(type_)) {
        // Another program may have stored any 64-bit integer: one that does not fit the field
        // is an error, not a number cut to 32 bits. A text or a float is shown as it is.
        if (stored.typeId() != QMetaType::LongLong)
            return stored;
        return QVariant(checkedInteger(stored.toLongLong()));
    }
    if (type_ == FieldType::Boolean) {
        if (isNumber(stored))
            return QVariant(stored.toDouble() != 0);
        const QString text = stored.toString().trimmed();
        if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || text == "1")
            return QVariant(true);
        if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0 || text == "0")
            return QVariant(false);
        return stored;
    }
    if (isTextKind(type_)) {
        if (stored.typeId() == QMetaType::QByteArray)
            return QVariant(QString::fromUtf8(stored.toByteArray()));
        return QVariant(stored.toString());
    }
    return stored;
}

QVariant Field::toStored(const QVariant& value) const {
    if (value.isNull())
        return QVariant();
    if (isIntegerKind(type_)) {
        bool ok = false;
        const qint64 number = value.toLongLong(&ok);
        if (!ok)
            throw EDatabaseError(
                QStringLiteral("'%1' is not a valid integer value").arg(value.toString()));
        return QVariant(qint64(checkedInteger(number)));
    }
    if (type_ == FieldType::Boolean) {
        if (isNumber(value))
            return QVariant(qint64(value.toDouble() != 0 ? 1 : 0));
        const QString text = value.toString().trimmed();
        if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return QVariant(qint64(1));
        if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return QVariant(qint64(0));
        throw EDatabaseError(QStringLiteral("'%1' is not a valid boolean value").arg(text));
    }
    if (isTextKind(type_))
        return QVariant(value.toString());
    return value;
}

int Field::checkedInteger(qint64 number) const {
    if (number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max())
        table_.raise(QStringLiteral("Value %1 of field '%2' of table '%3' is out of the range of a "
                                    "32-bit integer")
                         .arg(number)
                         .arg(name_, table_.tableName()));
    return int(number);
}

QString variantToString(const QVariant& value) {
    if (value.isNull())
        throw EVariantError(
            QStringLiteral("Could not convert variant of type (Null) into type (String)"));
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    return value.toString();
}

} // namespace data

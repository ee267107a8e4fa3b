#pragma once

#include "data/Connection.h"
#include "data/DataSource.h"
#include "data/Field.h"
#include "data/Table.h"

namespace data {

// The bank the program opens: the school's server that INFOTEST_BANK_URL names (a libpq
// connection URI), else db.mdb in the working directory.
QString bankSource();

// The question bank as every window sees it: one connection, the three tables with their
// fields, and a data source for each. Creating it opens everything; a bank that cannot be
// opened makes the constructor throw.
class TDataModule2 {
public:
    // The program opens bankSource(); the bank tool's check opens the bank it is given the same
    // way, so that it refuses exactly what the program refuses.
    explicit TDataModule2(const QString& dataSource = bankSource());
    ~TDataModule2();
    TDataModule2(const TDataModule2&) = delete;
    TDataModule2& operator=(const TDataModule2&) = delete;

    // At program end: posts each table's pending change (an untouched new row is dropped).
    // Returns the first error, after trying all three.
    void postPendingChanges();

    Connection ADOConnection1;

    Table Vopros;
    Field* Voprosid;
    Field* VoprosIntegerField;
    Field* VoprosWideStringField;
    DataSource Vopros_DS;

    Table Variant;
    Field* Variantid;
    Field* VariantIntegerField;
    Field* VariantWideStringField;
    Field* VariantBooleanField;
    DataSource Variant_DS;

    Table Obyasnenie;
    Field* Obyasnenieid;
    Field* ObyasnenieIntegerField;
    Field* ObyasnenieWideStringField;
    Field* ObyasnenieBooleanField;
    DataSource Obyasnenie_DS;
};

} // namespace data

using data::TDataModule2;

extern TDataModule2* DataModule2;

#include "data/DM.h"

#include "data/Errors.h"
#include "data/Schema.h"

#include <exception>

TDataModule2* DataModule2 = nullptr;

namespace data {

QString bankSource() {
    const QString server = qEnvironmentVariable("INFOTEST_BANK_URL");
    return server.isEmpty() ? QStringLiteral("db.mdb") : server;
}

TDataModule2::TDataModule2(const QString& dataSource)
    : Vopros(ADOConnection1, QStringLiteral("Vopros"), kQuestionTable), Vopros_DS(Vopros),
      Variant(ADOConnection1, QStringLiteral("Variant"), kOptionTable), Variant_DS(Variant),
      Obyasnenie(ADOConnection1, QStringLiteral("Obyasnenie"), kExplanationTable),
      Obyasnenie_DS(Obyasnenie) {
    ADOConnection1.connectionString =
        QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=db.mdb;"
                       "Persist Security Info=False");
    ADOConnection1.dataSource = dataSource;
    ADOConnection1.loginPrompt = false;

    const int text = kMaxTextLength;
    Voprosid = Vopros.addField(kIdColumn, FieldType::AutoInc, 12, true);
    VoprosIntegerField = Vopros.addField(kNumberColumn, FieldType::Integer, 10);
    VoprosWideStringField =
        Vopros.addField(kQuestionColumn, FieldType::WideString, text, false, text);

    Variantid = Variant.addField(kIdColumn, FieldType::AutoInc, 12, true);
    VariantIntegerField = Variant.addField(kQuestionColumn, FieldType::Integer, 12);
    VariantWideStringField =
        Variant.addField(kOptionColumn, FieldType::WideString, text, false, text);
    VariantBooleanField = Variant.addField(kCorrectColumn, FieldType::Boolean, 13);
    Variant.setMaster(Vopros_DS, kIdColumn, kQuestionColumn);

    Obyasnenieid = Obyasnenie.addField(kIdColumn, FieldType::AutoInc, 10, true);
    ObyasnenieIntegerField = Obyasnenie.addField(kQuestionColumn, FieldType::Integer, 10);
    ObyasnenieWideStringField =
        Obyasnenie.addField(kExplanationColumn, FieldType::WideString, text, false, text);
    ObyasnenieBooleanField = Obyasnenie.addField(kCorrectColumn, FieldType::Boolean, 5);
    Obyasnenie.setMaster(Vopros_DS, kIdColumn, kQuestionColumn);

    ADOConnection1.open();
    Vopros.open();
    Variant.open();
    Obyasnenie.open();
}

TDataModule2::~TDataModule2() = default;

void TDataModule2::postPendingChanges() {
    std::exception_ptr first;
    // The details first: posting the question could move them, and they would post then.
    for (Table* table : {&Variant, &Obyasnenie, &Vopros}) {
        try {
            if (table->active())
                table->checkBrowseMode();
        } catch (...) {
            if (!first)
                first = std::current_exception();
        }
    }
    if (first)
        std::rethrow_exception(first);
}

} // namespace data

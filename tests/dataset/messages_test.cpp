// Every message of the dataset model, its navigation and editing, and its fields: where it is
// raised and its exact text, with the dataset's name as prefix or without it.
#include <gtest/gtest.h>

#include <functional>

#include "dataset/dataset.h"
#include "dataset/db_errors.h"
#include "dataset/indexdefs.h"
#include "rtl/variant.h"
#include "support/dataset_support.h"

namespace dstest {
namespace {

struct MessageCase {
    const char* situation;
    std::function<void()> raise;
    std::string expected;
};

std::unique_ptr<TMemoryDataSet> Table(std::vector<ColumnSpec> columns, int blankRows = 0) {
    auto ds = std::make_unique<TMemoryDataSet>(std::move(columns));
    ds->SetName("People");
    for (int i = 0; i < blankRows; ++i) ds->AddRow({});
    return ds;
}

TEST(Messages, EachSituationRaisesItsExactText) {
    const std::vector<MessageCase> cases = {
        {"closed dataset", [] { People(1)->First(); },
         "People: Cannot perform this operation on a closed dataset"},
        {"closed dataset without a name", [] { People(1, "")->Next(); },
         "Cannot perform this operation on a closed dataset"},
        {"field joins an open dataset",
         [] {
             auto ds = People(1);
             ds->Open();
             db::TIntegerField extra;
             extra.SetFieldName("EXTRA");
             extra.SetDataSet(ds.get());
         },
         "People: Cannot perform this operation on an open dataset"},
        {"delete on an empty dataset",
         [] {
             auto ds = People(0);
             ds->Open();
             ds->Delete();
         },
         "People: Cannot perform this operation on an empty dataset"},
        {"post in browse",
         [] {
             auto ds = People(1);
             ds->Open();
             ds->Post();
         },
         "People: Dataset not in edit or insert mode"},
        {"append on a read-only dataset",
         [] {
             auto ds = People(1);
             ds->SetReadOnlyTable(true);
             ds->Open();
             ds->Append();
         },
         "People: Cannot modify a read-only dataset"},
        {"edit on a read-only dataset",
         [] {
             auto ds = People(1);
             ds->SetReadOnlyTable(true);
             ds->Open();
             ds->Edit();
         },
         "People: Cannot modify a read-only dataset"},
        {"bookmark of a vanished record",
         [] {
             auto ds = People(3);
             ds->Open();
             ds->Next();
             db::TBookmark mark = ds->TakeBookmark();
             ds->Rows().erase(ds->Rows().begin() + 1);
             ds->MoveToBookmark(mark);
         },
         "People: Record not found"},
        {"required field blank at post",
         [] {
             auto ds = Table({{"ID", db::ftInteger}, {"NAME", db::ftString, 10, true}});
             ds->Open();
             ds->Append();
             ds->FieldNamed("ID").SetIntegerValue(1);
             ds->Post();
         },
         "Field 'NAME' must have a value"},
        {"required field reported by its label",
         [] {
             auto ds = Table({{"ID", db::ftInteger, 0, true}});
             ds->Open();
             ds->FieldNamed("ID").SetDisplayLabel("Number");
             ds->Append();
             ds->FieldNamed("ID").SetIntegerValue(1);
             ds->FieldNamed("ID").Clear();
             ds->Post();
         },
         "Field 'Number' must have a value"},
        {"no field of that name",
         [] {
             auto ds = People(1);
             ds->Open();
             ds->FieldNamed("NOPE");
         },
         "People: Field 'NOPE' not found"},
        {"persistent field without a definition",
         [] {
             auto ds = People(1);
             db::TIntegerField ghost;
             ghost.SetFieldName("GHOST");
             ghost.SetDataSet(ds.get());
             ds->Open();
         },
         "People: Field 'GHOST' not found"},
        {"field type differs from its definition",
         [] {
             auto ds = People(1);
             db::TStringField id;
             id.SetFieldName("ID");
             id.SetDataSet(ds.get());
             ds->Open();
         },
         "People: Type mismatch for field 'ID', expecting: String actual: Integer"},
        {"field size differs from its definition",
         [] {
             auto ds = Table({{"B", db::ftBytes, 8}});
             db::TBytesField b;
             b.SetFieldName("B");
             b.SetSize(4);
             b.SetDataSet(ds.get());
             ds->Open();
         },
         "People: Size mismatch for field 'B', expecting: 4 actual: 8"},
        {"calculated field of a wrong type",
         [] {
             auto ds = People(1);
             db::TBlobField c;
             c.SetFieldName("C");
             c.SetFieldKind(db::fkCalculated);
             c.SetDataSet(ds.get());
             ds->Open();
         },
         "People: Field 'C' cannot be a calculated or lookup field"},
        {"definition whose type has no field class",
         [] {
             Table({{"CUR", db::ftCursor}})->Open();
         },
         "Field 'CUR' is of an unknown type"},
        {"definition without a name", [] { People(0)->FieldDefs().Add("", db::ftInteger); },
         "People: Field name missing"},
        {"two fields with one name",
         [] {
             auto ds = People(1);
             db::TIntegerField a, b;
             a.SetFieldName("ID");
             a.SetDataSet(ds.get());
             b.SetFieldName("id");
             b.SetDataSet(ds.get());
         },
         "People: Duplicate field name 'id'"},
        {"decimal out of range when converting",
         [] {
             auto ds = Table({{"AMOUNT", db::ftBCD, 2}}, 1);
             db::TBCDField amount;
             amount.SetFieldName("AMOUNT");
             amount.SetSize(2);
             amount.SetPrecision(4);
             amount.SetDataSet(ds.get());
             ds->Open();
             ds->Edit();
             amount.SetFloatValue(99.99);
             amount.SetFloatValue(123.45);
         },
         "People: Value of field 'AMOUNT' is out of range"},
        {"duplicate index name",
         [] {
             auto ds = People(0);
             db::TIndexDefs defs(ds.get());
             defs.Add("ByName", "NAME", {});
             defs.Add("byname", "ID", {});
         },
         "People: Duplicate index name 'byname'"},
        {"index not found",
         [] {
             auto ds = People(0);
             db::TIndexDefs defs(ds.get());
             defs.Find("X");
         },
         "People: Index 'X' not found"},
        {"no index for the fields",
         [] {
             auto ds = People(0);
             db::TIndexDefs defs(ds.get());
             defs.Add("ByName", "NAME", {});
             defs.FindIndexForFields("ID");
         },
         "People: No index for fields 'ID'"},
        {"field position outside the list",
         [] {
             auto ds = People(1);
             ds->Open();
             ds->FieldAt(5);
         },
         "List index out of bounds (5)"},
    };
    for (const MessageCase& c : cases) {
        SCOPED_TRACE(c.situation);
        try {
            c.raise();
            ADD_FAILURE() << "nothing raised";
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(std::string(e.what()), c.expected);
        }
    }
}

// Field messages carry no dataset prefix even on a named dataset.
TEST(Messages, FieldMessagesCarryNoPrefix) {
    auto ds = AllTypes();
    ds->Open();
    ds->Edit();
    auto f = [&](const char* name) -> db::TField& { return ds->FieldNamed(name); };
    const std::vector<MessageCase> cases = {
        {"boolean as integer", [&] { f("B").IntegerValue(); },
         "Cannot access field 'B' as type Integer"},
        {"boolean as float", [&] { f("B").SetFloatValue(1); },
         "Cannot access field 'B' as type Float"},
        {"date as boolean", [&] { f("D").BooleanValue(); },
         "Cannot access field 'D' as type Boolean"},
        {"integer as date-time", [&] { f("I").DateTimeValue(); },
         "Cannot access field 'I' as type DateTime"},
        {"float as boolean", [&] { f("F").SetBooleanValue(true); },
         "Cannot access field 'F' as type Boolean"},
        {"bytes as integer", [&] { f("BY").IntegerValue(); },
         "Cannot access field 'BY' as type Integer"},
        {"memo as date-time", [&] { f("M").SetDateTimeValue(1); },
         "Cannot access field 'M' as type DateTime"},
        {"variant that does not convert", [&] { f("I").SetVariantValue(rtl::Variant("ten")); },
         "Invalid value for field 'I'"},
        {"variant of the wrong kind for bytes", [&] { f("BY").SetVariantValue(rtl::Variant(5)); },
         "Invalid variant type or size for field 'BY'"},
        {"byte array too large",
         [&] { f("BY").SetVariantValue(rtl::Variant(std::vector<uint8_t>(5, 1))); },
         "Invalid variant type or size for field 'BY'"},
        {"field without a dataset",
         [] {
             db::TIntegerField loose;
             loose.SetFieldName("LOOSE");
             loose.IntegerValue();
         },
         "Field 'LOOSE' has no dataset"},
        {"string size out of range",
         [] {
             db::TStringField s;
             s.SetSize(8193);
         },
         "Invalid field size"},
        {"bytes size out of range",
         [] {
             db::TBytesField b;
             b.SetSize(0);
         },
         "Invalid field size"},
    };
    for (const MessageCase& c : cases) {
        SCOPED_TRACE(c.situation);
        try {
            c.raise();
            ADD_FAILURE() << "nothing raised";
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(std::string(e.what()), c.expected);
        }
    }
}

}  // namespace
}  // namespace dstest

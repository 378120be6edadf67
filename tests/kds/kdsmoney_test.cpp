// Field values of the table component, as the engine's record images hold them.
#include <gtest/gtest.h>

#include "kds/kdstable.h"
#include "kds_fixture.h"

namespace {

using kdstest::kCdx;
using kdstest::KdsTest;
using kdstest::kKdt;

// The engine keeps money exactly, as a count of ten-thousandths; the component reads its value.
TEST_F(KdsTest, MoneyFieldsReadAsTheirValue) {
    for (const auto* storage : {&kKdt, &kCdx}) {
        SCOPED_TRACE(storage->Name);
        std::string name = std::string("PAY") + storage->Extension;
        MakeTable(name, *storage, "MO,money", {{"1234.5678"}, {"-0.0001"}});
        kds::TKdsTable* table = NewTable("Pay" + std::string(storage->Name), name, *storage);
        table->Open();
        EXPECT_DOUBLE_EQ(table->FieldNamed("MO").FloatValue(), 1234.5678);
        table->Next();
        EXPECT_DOUBLE_EQ(table->FieldNamed("MO").FloatValue(), -0.0001);
        table->Close();
    }
}

}  // namespace

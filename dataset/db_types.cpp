#include "dataset/db_types.h"

#include <array>

namespace db {

const std::string& FieldTypeName(TFieldType type) {
    static const std::array<std::string, kFieldTypeCount> kNames = {
        "Unknown",    "String",     "SmallInt", "Integer",     "Word",      "Boolean",
        "Float",      "Currency",   "BCD",      "Date",        "Time",      "DateTime",
        "Bytes",      "VarBytes",   "AutoInc",  "Blob",        "Memo",      "Graphic",
        "FmtMemo",    "ParadoxOle", "dBaseOle", "TypedBinary", "Cursor",    "FixedChar",
        "WideString", "LargeInt",   "ADT",      "Array",       "Reference", "DataSet",
        "OraBlob",    "OraClob",    "Variant",  "Interface",   "Dispatch",  "Guid"};
    int index = static_cast<int>(type);
    return kNames[index >= 0 && index < kFieldTypeCount ? index : 0];
}

bool IsBlobType(TFieldType type) {
    return (type >= ftBlob && type <= ftTypedBinary) || type == ftOraBlob || type == ftOraClob;
}

bool IsObjectType(TFieldType type) {
    return type == ftADT || type == ftArray || type == ftReference || type == ftDataSet;
}

const char* StateName(DataSetState state) {
    static const char* const kNames[] = {
        "Inactive", "Browse",   "Edit",     "Insert",    "SetKey",       "CalcFields", "Filter",
        "NewValue", "OldValue", "CurValue", "BlockRead", "InternalCalc", "Opening"};
    return kNames[static_cast<int>(state)];
}

}  // namespace db

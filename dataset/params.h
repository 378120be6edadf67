// Statement parameters: a collection of named, typed values, and the parser that finds the named
// parameters (":NAME") in a statement text and replaces each by "?".
//
// Parameters of one name share one storage: every access goes to the first parameter of that
// name (compared without regard to letter case) in the collection, so setting one sets them all.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dataset/db_types.h"
#include "rtl/streams.h"
#include "rtl/variant.h"

namespace db {

class TDataSet;
class TField;
class TParams;

enum TParamType : int { ptUnknown = 0, ptInput, ptOutput, ptInputOutput, ptResult };

class TParam {
  public:
    TParam(TParams* owner, std::string name, TFieldType dataType = ftUnknown,
           TParamType paramType = ptUnknown);

    const std::string& Name() const { return name_; }
    void SetName(const std::string& name);
    TFieldType DataType() const;
    // Clears the value.
    void SetDataType(TFieldType type);
    TParamType ParamType() const { return paramType_; }
    void SetParamType(TParamType type) { paramType_ = type; }
    bool IsNull() const;
    bool Bound() const;
    void SetBound(bool bound);

    const rtl::Variant& Value() const;
    // Bound becomes true exactly when the value is not empty, null when it is empty or null; an
    // ftUnknown parameter takes its type from the variant.
    void SetValue(const rtl::Variant& value);
    void Clear();

    // Writers: each sets the data type, then the value.
    void SetAsString(const std::string& value);
    void SetAsMemo(const std::string& value);
    void SetAsBlob(const std::string& bytes);
    void SetAsSmallInt(int16_t value);
    void SetAsWord(uint16_t value);
    void SetAsInteger(int32_t value);
    void SetAsBoolean(bool value);
    void SetAsFloat(double value);
    void SetAsCurrency(double value);
    void SetAsBCD(rtl::Currency value);
    void SetAsDate(double value);
    void SetAsTime(double value);
    void SetAsDateTime(double value);

    // Readers: a null parameter reads as "", 0, 0.0, false or date-time 0.
    std::string AsString() const;
    int32_t AsInteger() const;
    double AsFloat() const;
    rtl::Currency AsCurrency() const;
    double AsDateTime() const;
    bool AsBoolean() const;

    // Takes a field's type, value, name; the parameter becomes bound.
    void AssignField(const TField& field);
    // Takes another parameter's type, value, null and bound flags, name, and its parameter type
    // when this one's is ptUnknown.
    void AssignParam(const TParam& other);

    // The value in the native form an engine takes for the data type. Raises "Field '%s' is of
    // an unknown type" for ftUnknown and "Field '%s' is of an unsupported type" for wide strings,
    // 64-bit integers and the types after ftDataSet (with the owning dataset's prefix).
    std::string NativeData() const;

  private:
    friend class TParams;
    TParam& Shared();
    const TParam& Shared() const;
    void Store(TFieldType type, const rtl::Variant& value);

    TParams* owner_;
    std::string name_;
    TFieldType dataType_;
    TParamType paramType_;
    rtl::Variant value_;
    bool null_ = true;
    bool bound_ = false;
};

class TParams {
  public:
    explicit TParams(TDataSet* owner = nullptr) : owner_(owner) {}
    TParams(const TParams&) = delete;
    TParams& operator=(const TParams&) = delete;

    TDataSet* Owner() const { return owner_; }
    int Count() const { return static_cast<int>(items_.size()); }
    TParam& Item(int index) const;
    TParam& operator[](int index) const { return Item(index); }
    TParam& Add(const std::string& name, TFieldType dataType = ftUnknown,
                TParamType paramType = ptUnknown);
    void Clear() { items_.clear(); }

    // Case-insensitive; the first of that name.
    TParam* FindParam(const std::string& name) const;
    // Raises "Parameter '%s' not found" with the owning dataset's prefix.
    TParam& ParamByName(const std::string& name) const;

    // For each parameter of `source`, the parameter of the same name here takes its data.
    void AssignValues(const TParams& source);
    // Same count, and pairwise same value, name (exact), data type, null, bound and type.
    bool IsEqual(const TParams& other) const;

    // The collection's stored form: every parameter's name, data type, parameter type, null and
    // bound flags and value (of any variant kind), in order. Reading replaces the collection;
    // a form that is cut short or not of this kind raises EReadError and leaves the collection
    // as it was.
    void WriteData(rtl::TStream& stream) const;
    void ReadData(rtl::TStream& stream);

    // Answers the text with every parameter replaced by "?" and each "::" by ":"; with `create`
    // the collection becomes the parameters found, in order of appearance.
    std::string ParseStatementText(const std::string& text, bool create);

  private:
    TDataSet* owner_;
    std::vector<std::unique_ptr<TParam>> items_;
};

}  // namespace db

// Field objects: typed access to one column of a dataset's active record, and the text rules that
// decide what survives a copy by text.
//
// A field never holds the record's value itself: reads ask the dataset for the field's data in the
// buffer its state chooses (ReadFieldData), writes hand the new data to the dataset
// (WriteFieldData), which checks it, stores it and sends FieldChange. Date and time fields and BCD
// fields work in value form (date-time doubles, currency counts); the dataset converts to and from
// the native form its descendant stores (ConvertFieldData).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "dataset/db_types.h"
#include "rtl/component.h"
#include "rtl/numconv.h"
#include "rtl/variant.h"

namespace db {

class TDataSet;
class TField;

// The dataset's ordered list of field objects. It does not own them: default fields belong to the
// dataset, other fields to whoever created them.
class TFields {
  public:
    explicit TFields(TDataSet* dataSet) : dataSet_(dataSet) {}
    TFields(const TFields&) = delete;
    TFields& operator=(const TFields&) = delete;

    int Count() const { return static_cast<int>(items_.size()); }
    // Raises the runtime's "List index out of bounds (%d)" outside the list.
    TField& At(int index) const;
    // Case-insensitive, first match wins. Looked up in a name index built on first use, so that a
    // command that finds every field of a wide record by name for each record stays linear.
    TField* Find(const std::string& name) const;
    int IndexOf(const TField* field) const;
    // Raises "Field name missing" for an unnamed field of kind fkData and "Duplicate field name
    // '%s'" for a second field of one name (both with the dataset prefix).
    void Add(TField* field);
    void Remove(TField* field);
    void Clear() {
        items_.clear();
        NamesChanged();
    }
    void Move(int from, int to);
    // Drops the name index; called whenever a listed field's name or the list's order changes.
    void NamesChanged() {
        byName_.clear();
        byFolded_.clear();
    }

  private:
    TDataSet* dataSet_;
    std::vector<TField*> items_;
    // Name as written, and folded name (SameName's folding), -> the field; empty until first
    // needed. No two fields share a folded name, so a hit on the name as written is the answer
    // without folding the name asked for.
    mutable std::unordered_map<std::string, TField*> byName_, byFolded_;
};

class TField : public rtl::TComponent {
  public:
    using TFieldNotifyEvent = std::function<void(TField&)>;
    using TFieldGetTextEvent = std::function<void(TField&, std::string& text, bool displayText)>;
    using TFieldSetTextEvent = std::function<void(TField&, const std::string& text)>;

    explicit TField(rtl::TComponent* owner = nullptr);
    ~TField() override;

    // ---- Identity and binding ------------------------------------------------------------------
    TDataSet* DataSet() const { return dataSet_; }
    // Moves the field into the dataset's field list (leaving the old one). The dataset must be
    // closed.
    virtual void SetDataSet(TDataSet* dataSet);
    TFieldType DataType() const { return dataType_; }
    TFieldKind FieldKind() const { return fieldKind_; }
    virtual void SetFieldKind(TFieldKind kind);
    const std::string& FieldName() const { return fieldName_; }
    void SetFieldName(const std::string& name);
    // DisplayLabel when set, else FieldName: the name used in messages.
    const std::string& DisplayName() const;
    const std::string& DisplayLabel() const { return DisplayName(); }
    void SetDisplayLabel(const std::string& label) { displayLabel_ = label; }
    int FieldNo() const { return fieldNo_; }
    int Offset() const { return offset_; }
    int Index() const;
    void SetIndex(int index);
    virtual int Size() const { return size_; }
    virtual void SetSize(int size);
    // Bytes of native data exchanged with the dataset.
    virtual int DataSize() const { return 0; }
    virtual bool IsBlob() const { return false; }
    bool Calculated() const { return fieldKind_ == fkCalculated; }
    bool Lookup() const { return fieldKind_ == fkLookup; }
    bool CanModify() const;

    // ---- Published properties ------------------------------------------------------------------
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool on) { readOnly_ = on; }
    bool Required() const { return required_; }
    void SetRequired(bool on) { required_ = on; }
    bool Visible() const { return visible_; }
    void SetVisible(bool on) { visible_ = on; }
    int DisplayWidth() const { return displayWidth_ > 0 ? displayWidth_ : DefaultWidth(); }
    void SetDisplayWidth(int width) { displayWidth_ = width; }
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment a) { alignment_ = a; }
    const std::string& DefaultExpression() const { return defaultExpression_; }
    void SetDefaultExpression(const std::string& e) { defaultExpression_ = e; }
    const std::string& CustomConstraint() const { return customConstraint_; }
    void SetCustomConstraint(const std::string& c) { customConstraint_ = c; }
    const std::string& ConstraintErrorMessage() const { return constraintErrorMessage_; }
    void SetConstraintErrorMessage(const std::string& m) { constraintErrorMessage_ = m; }
    const std::string& ImportedConstraint() const { return importedConstraint_; }
    void SetImportedConstraint(const std::string& c) { importedConstraint_ = c; }
    const std::string& Origin() const { return origin_; }
    void SetOrigin(const std::string& o) { origin_ = o; }
    const TProviderFlags& ProviderFlags() const { return providerFlags_; }
    void SetProviderFlags(const TProviderFlags& f) { providerFlags_ = f; }
    TAutoRefreshFlag AutoGenerateValue() const { return autoGenerateValue_; }
    void SetAutoGenerateValue(TAutoRefreshFlag f) { autoGenerateValue_ = f; }
    TDataSet* LookupDataSet() const { return lookupDataSet_; }
    void SetLookupDataSet(TDataSet* d) { lookupDataSet_ = d; }
    const std::string& KeyFields() const { return keyFields_; }
    void SetKeyFields(const std::string& f) { keyFields_ = f; }
    const std::string& LookupKeyFields() const { return lookupKeyFields_; }
    void SetLookupKeyFields(const std::string& f) { lookupKeyFields_ = f; }
    const std::string& LookupResultField() const { return lookupResultField_; }
    void SetLookupResultField(const std::string& f) { lookupResultField_ = f; }
    bool LookupCache() const { return lookupCache_; }
    void SetLookupCache(bool on) { lookupCache_ = on; }

    const TFieldNotifyEvent& OnChange() const { return onChange_; }
    void SetOnChange(TFieldNotifyEvent h) { onChange_ = std::move(h); }
    const TFieldGetTextEvent& OnGetText() const { return onGetText_; }
    void SetOnGetText(TFieldGetTextEvent h) { onGetText_ = std::move(h); }
    const TFieldSetTextEvent& OnSetText() const { return onSetText_; }
    void SetOnSetText(TFieldSetTextEvent h) { onSetText_ = std::move(h); }
    const TFieldNotifyEvent& OnValidate() const { return onValidate_; }
    void SetOnValidate(TFieldNotifyEvent h) { onValidate_ = std::move(h); }

    // ---- Values --------------------------------------------------------------------------------
    virtual bool BooleanValue() const;
    virtual rtl::Currency CurrencyValue() const;
    virtual double DateTimeValue() const;
    virtual double FloatValue() const;
    virtual int32_t IntegerValue() const;
    virtual std::string StringValue() const;
    virtual rtl::Variant VariantValue() const;
    virtual void SetBooleanValue(bool value);
    virtual void SetCurrencyValue(rtl::Currency value);
    virtual void SetDateTimeValue(double value);
    virtual void SetFloatValue(double value);
    virtual void SetIntegerValue(int32_t value);
    virtual void SetStringValue(const std::string& value);
    virtual void SetVariantValue(const rtl::Variant& value);
    virtual bool IsBlank() const;
    virtual void Clear();

    // Text for showing or editing: OnGetText when assigned, else the class's rule.
    std::string DisplayText() const { return TextFor(true); }
    std::string EditText() const { return TextFor(false); }
    // Writing the edit text: OnSetText when assigned, else StringValue.
    void SetEditText(const std::string& text);

    // Assignment from another field: its VariantValue becomes this field's; none clears.
    virtual void AssignField(const TField* source);

    // ---- Protocol with the dataset -------------------------------------------------------------
    // Runs OnValidate with `data` (native form, none for blank) as the field's readable value.
    // The dataset's WriteFieldData calls it in Edit and Insert before storing the data.
    void Validate(const void* data);
    // The change notification: fires OnChange. Sent through the dataset's FieldChange reaction.
    virtual void Change();
    // Drops cached data (blob contents); base does nothing.
    virtual void ReleaseBuffers() {}
    // Checks a size the class can take; base accepts 0 only.
    virtual void CheckTypeSize(int size) const;
    // Sets the type among those the class serves (string kinds, blob kinds); others are ignored.
    virtual void SetFieldType(TFieldType) {}
    // Binding: the dataset sets number and offset while it binds (0 unbinds).
    void SetFieldNo(int number) { fieldNo_ = number; }
    void SetOffset(int offset) { offset_ = offset; }

  protected:
    void SetDataType(TFieldType type) { dataType_ = type; }
    virtual int DefaultWidth() const { return 10; }
    // The class's text rule for DisplayText (display) and EditText.
    virtual std::string GetText(bool displayText) const;
    // Native (or, for the value-form classes, value-form) data of the field; false when blank.
    bool ReadData(void* destination, bool nativeFormat = true) const;
    void WriteData(const void* source, bool nativeFormat = true);
    // Whether value-form classes pass nativeFormat false.
    virtual bool UsesValueForm() const { return false; }
    TDataSet& RequireDataSet() const;
    [[noreturn]] void AccessError(const char* typeWord) const;
    [[noreturn]] void RangeError(double value, double minimum, double maximum) const;
    [[noreturn]] void ValueError() const;

  private:
    friend class TDataSet;
    std::string TextFor(bool displayText) const;

    TDataSet* dataSet_ = nullptr;
    TFieldType dataType_ = ftUnknown;
    TFieldKind fieldKind_ = fkData;
    std::string fieldName_;
    std::string displayLabel_;
    int size_ = 0;
    int fieldNo_ = 0;
    int offset_ = 0;
    bool readOnly_ = false;
    bool required_ = false;
    bool visible_ = true;
    int displayWidth_ = 0;
    TAlignment alignment_ = taLeftJustify;
    std::string defaultExpression_, customConstraint_, constraintErrorMessage_, importedConstraint_,
        origin_;
    TProviderFlags providerFlags_{pfInUpdate, pfInWhere};
    TAutoRefreshFlag autoGenerateValue_ = arNone;
    TDataSet* lookupDataSet_ = nullptr;
    std::string keyFields_, lookupKeyFields_, lookupResultField_;
    bool lookupCache_ = false;
    TFieldNotifyEvent onChange_, onValidate_;
    TFieldGetTextEvent onGetText_;
    TFieldSetTextEvent onSetText_;

    // While a write is under way (validation), reads answer the data being written.
    bool validating_ = false;
    const void* valueBuffer_ = nullptr;
};

// ---- Strings
// --------------------------------------------------------------------------------------

class TStringField : public TField {
  public:
    static constexpr int kMaxSize = 8192;
    explicit TStringField(rtl::TComponent* owner = nullptr);

    void SetSize(int size) override;
    int DataSize() const override { return Size() + 1; }
    bool FixedChar() const { return fixedChar_; }
    void SetFixedChar(bool on) { fixedChar_ = on; }
    bool Transliterate() const { return transliterate_; }
    void SetTransliterate(bool on) { transliterate_ = on; }
    const std::string& EditMask() const { return editMask_; }
    void SetEditMask(const std::string& mask) { editMask_ = mask; }

    bool BooleanValue() const override;
    double DateTimeValue() const override;
    double FloatValue() const override;
    rtl::Currency CurrencyValue() const override;
    int32_t IntegerValue() const override;
    std::string StringValue() const override;
    rtl::Variant VariantValue() const override;
    void SetBooleanValue(bool value) override;
    void SetDateTimeValue(double value) override;
    void SetFloatValue(double value) override;
    void SetCurrencyValue(rtl::Currency value) override;
    void SetIntegerValue(int32_t value) override;
    void SetStringValue(const std::string& value) override;
    void SetVariantValue(const rtl::Variant& value) override;
    void CheckTypeSize(int size) const override;
    void SetFieldType(TFieldType type) override;

  protected:
    int DefaultWidth() const override { return Size(); }

  private:
    bool fixedChar_ = false;
    bool transliterate_ = true;
    std::string editMask_;
};

// ---- Numbers
// Wide text is kept here in the same byte form as narrow text.
class TWideStringField : public TStringField {
  public:
    explicit TWideStringField(rtl::TComponent* owner = nullptr);
    void SetFieldType(TFieldType type) override;
};

// A GUID in its 38-character text form "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}".
class TGuidField : public TStringField {
  public:
    static constexpr int kGuidSize = 38;
    explicit TGuidField(rtl::TComponent* owner = nullptr);
    void SetFieldType(TFieldType type) override;
    void CheckTypeSize(int size) const override;
};

// --------------------------------------------------------------------------------------

class TNumericField : public TField {
  public:
    using TField::TField;
    const std::string& DisplayFormat() const { return displayFormat_; }
    void SetDisplayFormat(const std::string& f) { displayFormat_ = f; }
    const std::string& EditFormat() const { return editFormat_; }
    void SetEditFormat(const std::string& f) { editFormat_ = f; }

  private:
    std::string displayFormat_, editFormat_;
};

class TIntegerField : public TNumericField {
  public:
    explicit TIntegerField(rtl::TComponent* owner = nullptr);

    int DataSize() const override { return 4; }
    int32_t MinValue() const { return minValue_; }
    void SetMinValue(int32_t v) { minValue_ = v; }
    int32_t MaxValue() const { return maxValue_; }
    void SetMaxValue(int32_t v) { maxValue_ = v; }

    int32_t IntegerValue() const override;
    double FloatValue() const override;
    rtl::Currency CurrencyValue() const override;
    std::string StringValue() const override;
    rtl::Variant VariantValue() const override;
    void SetIntegerValue(int32_t value) override;
    void SetFloatValue(double value) override;
    void SetCurrencyValue(rtl::Currency value) override;
    void SetStringValue(const std::string& value) override;
    void SetVariantValue(const rtl::Variant& value) override;

  protected:
    // The class range, used when neither MinValue nor MaxValue is set.
    int64_t classMin_ = INT32_MIN;
    int64_t classMax_ = INT32_MAX;
    virtual bool ReadInteger(int32_t& value) const;
    virtual void WriteInteger(int32_t value);
    std::string GetText(bool displayText) const override;

  private:
    void CheckRange(int64_t value) const;
    int32_t minValue_ = 0;
    int32_t maxValue_ = 0;
};

// 16-bit data; its native form is a 16-bit value.
class TSmallintField : public TIntegerField {
  public:
    explicit TSmallintField(rtl::TComponent* owner = nullptr);
    int DataSize() const override { return 2; }

  protected:
    bool ReadInteger(int32_t& value) const override;
    void WriteInteger(int32_t value) override;
};

class TWordField : public TIntegerField {
  public:
    explicit TWordField(rtl::TComponent* owner = nullptr);
    int DataSize() const override { return 2; }

  protected:
    bool ReadInteger(int32_t& value) const override;
    void WriteInteger(int32_t value) override;
};

class TAutoIncField : public TIntegerField {
  public:
    explicit TAutoIncField(rtl::TComponent* owner = nullptr);
};

// 64-bit integers; read as 32-bit IntegerValue only when they fit.
class TLargeintField : public TNumericField {
  public:
    explicit TLargeintField(rtl::TComponent* owner = nullptr);
    int DataSize() const override { return 8; }
    int64_t LargeintValue() const;
    void SetLargeintValue(int64_t value);

    int32_t IntegerValue() const override;
    double FloatValue() const override;
    rtl::Currency CurrencyValue() const override;
    std::string StringValue() const override;
    rtl::Variant VariantValue() const override;
    void SetIntegerValue(int32_t value) override;
    void SetFloatValue(double value) override;
    void SetCurrencyValue(rtl::Currency value) override;
    void SetStringValue(const std::string& value) override;
    void SetVariantValue(const rtl::Variant& value) override;

  protected:
    std::string GetText(bool displayText) const override;
};

class TFloatField : public TNumericField {
  public:
    explicit TFloatField(rtl::TComponent* owner = nullptr);

    int DataSize() const override { return 8; }
    int Precision() const { return precision_; }
    void SetPrecision(int precision);
    bool Currency() const { return currency_; }
    void SetCurrency(bool on) { currency_ = on; }
    double MinValue() const { return minValue_; }
    void SetMinValue(double v) { minValue_ = v; }
    double MaxValue() const { return maxValue_; }
    void SetMaxValue(double v) { maxValue_ = v; }

    double FloatValue() const override;
    int32_t IntegerValue() const override;
    rtl::Currency CurrencyValue() const override;
    std::string StringValue() const override;
    rtl::Variant VariantValue() const override;
    void SetFloatValue(double value) override;
    void SetIntegerValue(int32_t value) override;
    void SetCurrencyValue(rtl::Currency value) override;
    void SetStringValue(const std::string& value) override;
    void SetVariantValue(const rtl::Variant& value) override;

  protected:
    std::string GetText(bool displayText) const override;

  private:
    int precision_ = 15;
    bool currency_ = false;
    double minValue_ = 0;
    double maxValue_ = 0;
};

class TCurrencyField : public TFloatField {
  public:
    explicit TCurrencyField(rtl::TComponent* owner = nullptr);
};

// Fixed-point decimals. Value form: a currency count; native form: the count scaled to Size
// decimals (see ConvertFieldData).
class TBCDField : public TNumericField {
  public:
    explicit TBCDField(rtl::TComponent* owner = nullptr);
    int DataSize() const override { return 8; }
    int Precision() const { return precision_; }
    void SetPrecision(int precision) { precision_ = precision; }
    void CheckTypeSize(int size) const override;

    rtl::Currency CurrencyValue() const override;
    double FloatValue() const override;
    int32_t IntegerValue() const override;
    std::string StringValue() const override;
    rtl::Variant VariantValue() const override;
    void SetCurrencyValue(rtl::Currency value) override;
    void SetFloatValue(double value) override;
    void SetIntegerValue(int32_t value) override;
    void SetStringValue(const std::string& value) override;
    void SetVariantValue(const rtl::Variant& value) override;

  protected:
    bool UsesValueForm() const override { return true; }
    std::string GetText(bool displayText) const override;

  private:
    int precision_ = 18;
};

// ---- Booleans
// -------------------------------------------------------------------------------------

class TBooleanField : public TField {
  public:
    explicit TBooleanField(rtl::TComponent* owner = nullptr);

    int DataSize() const override { return 2; }
    // "true text;false text".
    const std::string& DisplayValues() const { return displayValues_; }
    void SetDisplayValues(const std::string& values);

    bool BooleanValue() const override;
    std::string StringValue() const override;
    rtl::Variant VariantValue() const override;
    void SetBooleanValue(bool value) override;
    void SetStringValue(const std::string& value) override;
    void SetVariantValue(const rtl::Variant& value) override;

  protected:
    std::string GetText(bool displayText) const override;

  private:
    std::string displayValues_;
    std::string trueText_ = "True";
    std::string falseText_ = "False";
};

// ---- Dates and times
// ------------------------------------------------------------------------------

// Exchanges data with the dataset in value form: a date-time double counting days since
// 30 December 1899, the fraction being the time of day.
class TDateTimeField : public TField {
  public:
    explicit TDateTimeField(rtl::TComponent* owner = nullptr);

    int DataSize() const override { return 8; }
    const std::string& DisplayFormat() const { return displayFormat_; }
    void SetDisplayFormat(const std::string& f) { displayFormat_ = f; }

    double DateTimeValue() const override;
    double FloatValue() const override;
    rtl::Currency CurrencyValue() const override;
    std::string StringValue() const override;
    rtl::Variant VariantValue() const override;
    void SetDateTimeValue(double value) override;
    void SetFloatValue(double value) override;
    void SetCurrencyValue(rtl::Currency value) override;
    void SetStringValue(const std::string& value) override;
    void SetVariantValue(const rtl::Variant& value) override;

  protected:
    bool UsesValueForm() const override { return true; }
    std::string GetText(bool displayText) const override;
    // The text of a value by the class's rule (short date, long time, or both).
    virtual std::string FormatValue(double value) const;
    virtual double ParseText(const std::string& text) const;

  private:
    std::string displayFormat_;
};

class TDateField : public TDateTimeField {
  public:
    explicit TDateField(rtl::TComponent* owner = nullptr);
    int DataSize() const override { return 4; }

  protected:
    std::string FormatValue(double value) const override;
    double ParseText(const std::string& text) const override;
};

class TTimeField : public TDateTimeField {
  public:
    explicit TTimeField(rtl::TComponent* owner = nullptr);
    int DataSize() const override { return 4; }

  protected:
    std::string FormatValue(double value) const override;
    double ParseText(const std::string& text) const override;
};

// ---- Raw bytes
// ------------------------------------------------------------------------------------

class TBinaryField : public TField {
  public:
    using TField::TField;
    void CheckTypeSize(int size) const override;
    std::string StringValue() const override;
    rtl::Variant VariantValue() const override;
    void SetStringValue(const std::string& value) override;
    void SetVariantValue(const rtl::Variant& value) override;

  protected:
    std::string GetText(bool displayText) const override;
};

class TBytesField : public TBinaryField {
  public:
    explicit TBytesField(rtl::TComponent* owner = nullptr);
    int DataSize() const override { return Size(); }
};

// Native data: a 16-bit length word, then Size bytes.
class TVarBytesField : public TBytesField {
  public:
    explicit TVarBytesField(rtl::TComponent* owner = nullptr);
    int DataSize() const override { return Size() + 2; }
    std::string StringValue() const override;
    void SetStringValue(const std::string& value) override;
};

// ---- Blobs
// ----------------------------------------------------------------------------------------

// Content of any length, reached through the dataset's OpenBlobStream. Streams opened for writing
// do not notify; the field sends FieldChange once it closed a write stream.
class TBlobField : public TField {
  public:
    explicit TBlobField(rtl::TComponent* owner = nullptr);

    bool IsBlob() const override { return true; }
    TFieldType BlobType() const { return DataType(); }
    void SetBlobType(TFieldType type) { SetFieldType(type); }
    void SetFieldType(TFieldType type) override;
    void CheckTypeSize(int size) const override;

    // The blob changed for the record in window slot Index since the record was read.
    bool Modified() const { return modified_; }
    void SetModified(bool modified);

    std::string StringValue() const override;
    rtl::Variant VariantValue() const override;
    void SetStringValue(const std::string& value) override;
    void SetVariantValue(const rtl::Variant& value) override;
    bool IsBlank() const override;
    void Clear() override;
    void AssignField(const TField* source) override;
    void ReleaseBuffers() override;

    // Contents to a new (or truncated) file; from an existing file.
    void WriteToFile(const std::string& fileName) const;
    void ReadFromFile(const std::string& fileName);

  protected:
    std::string GetText(bool displayText) const override;

  private:
    bool modified_ = false;
    int modifiedRecord_ = -1;
};

class TMemoField : public TBlobField {
  public:
    explicit TMemoField(rtl::TComponent* owner = nullptr);
    bool Transliterate() const { return transliterate_; }
    void SetTransliterate(bool on) { transliterate_ = on; }

  private:
    bool transliterate_ = true;
};

class TGraphicField : public TBlobField {
  public:
    explicit TGraphicField(rtl::TComponent* owner = nullptr);
};

// Creates the field object of the class for a type; none for a type without a field class here.
std::unique_ptr<TField> CreateFieldForType(TFieldType type);

}  // namespace db

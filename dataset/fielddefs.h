// Field definitions: the layout of the records under a dataset, as its descendant reports it
// when it opens. Default fields are made from these; bound fields are checked against them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dataset/db_types.h"

namespace db {

class TDataSet;
class TFieldDefs;

class TFieldDef {
  public:
    TFieldDef(TFieldDefs* owner, std::string name, TFieldType dataType, int size, bool required);

    const std::string& Name() const { return name_; }
    void SetName(const std::string& name);
    TFieldType DataType() const { return dataType_; }
    void SetDataType(TFieldType type);
    int Size() const { return size_; }
    void SetSize(int size);
    int Precision() const { return precision_; }
    void SetPrecision(int precision);
    const TFieldAttributes& Attributes() const { return attributes_; }
    void SetAttributes(const TFieldAttributes& attributes);
    bool Required() const { return attributes_.count(faRequired) != 0; }
    bool InternalCalcField() const { return internalCalc_; }
    void SetInternalCalcField(bool on);
    // 1-based; equals the definition's position in its collection.
    int FieldNo() const;
    // Nested definitions of object types; never filled in this system, kept for the layout.
    TFieldDefs* ChildDefs() const { return nullptr; }

  private:
    void Changed();

    TFieldDefs* owner_;
    std::string name_;
    TFieldType dataType_;
    int size_;
    int precision_ = 0;
    TFieldAttributes attributes_;
    bool internalCalc_ = false;
};

// The ordered collection of a dataset's field definitions. A property change of any item clears
// Updated() and tells the dataset (DefinitionsChanged) unless an internal update is running.
class TFieldDefs {
  public:
    explicit TFieldDefs(TDataSet* dataSet) : dataSet_(dataSet) {}
    TFieldDefs(const TFieldDefs&) = delete;
    TFieldDefs& operator=(const TFieldDefs&) = delete;

    TDataSet* DataSet() const { return dataSet_; }
    int Count() const { return static_cast<int>(items_.size()); }
    TFieldDef& Item(int index) const;
    TFieldDef& operator[](int index) const { return Item(index); }

    // Raises "Field name missing" (with the dataset prefix) for an empty name.
    TFieldDef& Add(const std::string& name, TFieldType dataType, int size = 0,
                   bool required = false);
    void Clear();
    // Case-insensitive; first match wins.
    TFieldDef* Find(const std::string& name) const;
    int IndexOf(const std::string& name) const;
    int IndexOf(const TFieldDef* def) const;

    bool Updated() const { return updated_; }
    void SetUpdated(bool updated) { updated_ = updated; }

    // Brackets a descendant's own filling of the collection: changes made inside do not call
    // DefinitionsChanged.
    void BeginUpdate() { ++updateCount_; }
    void EndUpdate() { --updateCount_; }

    // Called by the items when one of their properties changes.
    void ItemChanged();

  private:
    TDataSet* dataSet_;
    std::vector<std::unique_ptr<TFieldDef>> items_;
    bool updated_ = false;
    int updateCount_ = 0;
};

}  // namespace db

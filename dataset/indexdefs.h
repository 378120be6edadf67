// Index definitions of a dataset that has indexes, and the searches the key and range operations
// rest on: by name, and by a list of field names.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dataset/db_types.h"

namespace db {

class TDataSet;
class TIndexDefs;

class TIndexDef {
  public:
    TIndexDef(TIndexDefs* owner, std::string name, std::string fields, TIndexOptions options);

    const std::string& Name() const { return name_; }
    void SetName(const std::string& name);
    // Field names separated by ";".
    const std::string& Fields() const { return fields_; }
    void SetFields(const std::string& fields);
    const TIndexOptions& Options() const { return options_; }
    void SetOptions(const TIndexOptions& options);
    const std::string& Expression() const { return expression_; }
    void SetExpression(const std::string& expression);
    const std::string& DescFields() const { return descFields_; }
    void SetDescFields(const std::string& fields);
    const std::string& CaseInsFields() const { return caseInsFields_; }
    void SetCaseInsFields(const std::string& fields);
    const std::string& Source() const { return source_; }
    void SetSource(const std::string& source);
    int GroupingLevel() const { return groupingLevel_; }
    void SetGroupingLevel(int level);

    // Copies every property of another definition.
    void Assign(const TIndexDef& other);

  private:
    void Changed();

    TIndexDefs* owner_;
    std::string name_;
    std::string fields_;
    TIndexOptions options_;
    std::string expression_;
    std::string descFields_;
    std::string caseInsFields_;
    std::string source_;
    int groupingLevel_ = 0;
};

// A dataset's index definitions. The dataset (may be none, for a detached copy) supplies the
// message prefix and brings the collection up to date through RefreshIndexDefs.
class TIndexDefs {
  public:
    explicit TIndexDefs(TDataSet* dataSet) : dataSet_(dataSet) {}
    TIndexDefs(const TIndexDefs&) = delete;
    TIndexDefs& operator=(const TIndexDefs&) = delete;

    TDataSet* DataSet() const { return dataSet_; }
    int Count() const { return static_cast<int>(items_.size()); }
    TIndexDef& Item(int index) const;
    TIndexDef& operator[](int index) const { return Item(index); }

    // Raises "Duplicate index name '%s'" (with the dataset prefix) when the name is present.
    TIndexDef& Add(const std::string& name, const std::string& fields,
                   const TIndexOptions& options);
    void Delete(int index);
    void Clear();

    // Case-insensitive; IndexOf answers -1 when absent, Find raises "Index '%s' not found".
    int IndexOf(const std::string& name) const;
    TIndexDef& Find(const std::string& name) const;

    // The index whose fields are the given list, or whose fields begin with it. Descending and
    // expression indexes never qualify; with caseInsensitive only ixCaseInsensitive ones do.
    // The collection is brought up to date first. Raises "No index for fields '%s'".
    TIndexDef& FindIndexForFields(const std::string& fields, bool caseInsensitive = false);
    TIndexDef* GetIndexForFields(const std::string& fields, bool caseInsensitive = false);

    // A detached copy of the definitions that have any of the options and whose fields all
    // belong to the dataset; none when no definition qualifies.
    std::unique_ptr<TIndexDefs> SelectByOptions(const TIndexOptions& options);

    // Fills the collection from the dataset's RefreshIndexDefs unless it is up to date.
    void Update();
    bool Updated() const { return updated_; }
    void SetUpdated(bool updated) { updated_ = updated; }

    void BeginUpdate() { ++updateCount_; }
    void EndUpdate() { --updateCount_; }
    void ItemChanged();

  private:
    TDataSet* dataSet_;
    std::vector<std::unique_ptr<TIndexDef>> items_;
    bool updated_ = false;
    int updateCount_ = 0;
};

}  // namespace db

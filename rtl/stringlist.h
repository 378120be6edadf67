// TStrings, the list-of-lines interface (a memo's lines, a string list), and TStringList.
//
// Lines are byte strings. Text joins the lines, each followed by CR LF; SetText splits at CR LF,
// LF or CR. Names compare without regard to ASCII letter case unless CaseSensitive is set.
// Indexes outside the list raise EListError "List index out of bounds (%d)".
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace rtl {

class TStream;

// What a sorted list (or a thread list) does with an item it already holds.
enum TDuplicates { dupIgnore, dupAccept, dupError };

class TStrings {
  public:
    virtual ~TStrings() = default;

    virtual int Count() const = 0;
    virtual std::string Get(int index) const = 0;
    virtual void Put(int index, const std::string& value);
    virtual void Insert(int index, const std::string& value) = 0;
    virtual void Delete(int index) = 0;
    virtual void Clear() = 0;
    // Appends (a sorted list inserts in order) and answers the index of the new line.
    virtual int Add(const std::string& value);
    // First line equal to `value` (see CaseSensitive); -1 when none.
    virtual int IndexOf(const std::string& value) const;

    std::string Strings(int index) const { return Get(index); }
    void SetStrings(int index, const std::string& value) { Put(index, value); }
    std::string operator[](int index) const { return Get(index); }

    std::string Text() const;
    void SetText(const std::string& text);
    // Lines of the form name=value.
    std::string Names(int index) const;
    std::string Values(const std::string& name) const;
    // An empty value removes the line.
    void SetValues(const std::string& name, const std::string& value);
    int IndexOfName(const std::string& name) const;

    void Assign(const TStrings& source);
    void AddStrings(const TStrings& source);
    void Move(int from, int to);
    void Exchange(int a, int b);

    // Changes between the two calls are announced once, at the outermost EndUpdate.
    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return updateCount_; }

    // Whole text from/to a stream or a file (the file name is resolved as a path).
    void LoadFromStream(TStream& stream);
    void SaveToStream(TStream& stream) const;
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName) const;

    virtual bool CaseSensitive() const { return false; }

  protected:
    // Called with true at the first BeginUpdate and false at the last EndUpdate.
    virtual void SetUpdateState(bool updating) { (void)updating; }
    bool SameLine(const std::string& a, const std::string& b) const;

  private:
    int updateCount_ = 0;
};

class TStringList : public TStrings {
  public:
    TStringList() = default;
    TStringList(const TStringList& other);
    TStringList& operator=(const TStringList& other);

    int Count() const override { return static_cast<int>(items_.size()); }
    std::string Get(int index) const override;
    void Put(int index, const std::string& value) override;
    void Insert(int index, const std::string& value) override;
    void Delete(int index) override;
    void Clear() override;
    int Add(const std::string& value) override;
    int IndexOf(const std::string& value) const override;

    // An object pointer carried with each line; not owned.
    int AddObject(const std::string& value, void* object);
    void* Objects(int index) const;
    void SetObjects(int index, void* object);

    bool Sorted() const { return sorted_; }
    void SetSorted(bool value);
    TDuplicates Duplicates() const { return duplicates_; }
    void SetDuplicates(TDuplicates value) { duplicates_ = value; }
    bool CaseSensitive() const override { return caseSensitive_; }
    void SetCaseSensitive(bool value);
    // Binary search of a sorted list: true when found; `index` is where it is or would go.
    bool Find(const std::string& value, int& index) const;
    void Sort();

    // Fired before and after every change (once around a BeginUpdate/EndUpdate bracket).
    void SetOnChanging(std::function<void()> handler) { onChanging_ = std::move(handler); }
    void SetOnChange(std::function<void()> handler) { onChange_ = std::move(handler); }

  protected:
    void SetUpdateState(bool updating) override;

  private:
    struct Item {
        std::string text;
        void* object = nullptr;
    };
    void CheckIndex(int index) const;
    int Compare(const std::string& a, const std::string& b) const;
    void Changing();
    void Changed();
    void InsertItem(int index, const std::string& value, void* object);

    std::vector<Item> items_;
    bool sorted_ = false;
    bool caseSensitive_ = false;
    TDuplicates duplicates_ = dupIgnore;
    std::function<void()> onChanging_;
    std::function<void()> onChange_;
};

}  // namespace rtl

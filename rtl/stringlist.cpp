#include "rtl/stringlist.h"

#include <algorithm>
#include <cctype>

#include "rtl/exceptions.h"
#include "rtl/streams.h"
#include "rtl/textutils.h"

namespace rtl {

void TStrings::Put(int index, const std::string& value) {
    BeginUpdate();
    try {
        Delete(index);
        Insert(index, value);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

int TStrings::Add(const std::string& value) {
    const int index = Count();
    Insert(index, value);
    return index;
}

bool TStrings::SameLine(const std::string& a, const std::string& b) const {
    return CaseSensitive() ? a == b : SameText(a, b);
}

int TStrings::IndexOf(const std::string& value) const {
    for (int i = 0; i < Count(); ++i)
        if (SameLine(Get(i), value)) return i;
    return -1;
}

std::string TStrings::Text() const {
    std::string out;
    for (int i = 0; i < Count(); ++i) {
        out += Get(i);
        out += "\r\n";
    }
    return out;
}

void TStrings::SetText(const std::string& text) {
    BeginUpdate();
    try {
        Clear();
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find_first_of("\r\n", start);
            if (end == std::string::npos) {
                Add(text.substr(start));
                break;
            }
            Add(text.substr(start, end - start));
            start =
                end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

std::string TStrings::Names(int index) const {
    const std::string line = Get(index);
    const std::string::size_type eq = line.find('=');
    return eq == std::string::npos ? "" : line.substr(0, eq);
}

int TStrings::IndexOfName(const std::string& name) const {
    for (int i = 0; i < Count(); ++i) {
        const std::string line = Get(i);
        const std::string::size_type eq = line.find('=');
        if (eq != std::string::npos && SameLine(line.substr(0, eq), name)) return i;
    }
    return -1;
}

std::string TStrings::Values(const std::string& name) const {
    const int i = IndexOfName(name);
    if (i < 0) return "";
    const std::string line = Get(i);
    return line.substr(line.find('=') + 1);
}

void TStrings::SetValues(const std::string& name, const std::string& value) {
    const int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0) Delete(i);
    } else if (i >= 0) {
        Put(i, name + "=" + value);
    } else {
        Add(name + "=" + value);
    }
}

void TStrings::Assign(const TStrings& source) {
    if (&source == this) return;
    BeginUpdate();
    try {
        Clear();
        AddStrings(source);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TStrings::AddStrings(const TStrings& source) {
    // Copy first: `source` may be this list.
    std::vector<std::string> lines;
    for (int i = 0; i < source.Count(); ++i) lines.push_back(source.Get(i));
    BeginUpdate();
    try {
        for (const std::string& line : lines) Add(line);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TStrings::Move(int from, int to) {
    if (from == to) return;
    const std::string line = Get(from);
    if (to < 0 || to >= Count()) ListIndexError(to);
    BeginUpdate();
    Delete(from);
    Insert(to, line);
    EndUpdate();
}

void TStrings::Exchange(int a, int b) {
    const std::string la = Get(a);
    const std::string lb = Get(b);
    BeginUpdate();
    Put(a, lb);
    Put(b, la);
    EndUpdate();
}

void TStrings::BeginUpdate() {
    if (updateCount_++ == 0) SetUpdateState(true);
}

void TStrings::EndUpdate() {
    if (updateCount_ > 0 && --updateCount_ == 0) SetUpdateState(false);
}

void TStrings::LoadFromStream(TStream& stream) {
    const int64_t size = stream.Size() - stream.Position();
    std::string text(static_cast<size_t>(size > 0 ? size : 0), '\0');
    stream.ReadBuffer(text.data(), static_cast<int64_t>(text.size()));
    SetText(text);
}

void TStrings::SaveToStream(TStream& stream) const {
    const std::string text = Text();
    stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

void TStrings::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(file);
}

void TStrings::SaveToFile(const std::string& fileName) const {
    TFileStream file(fileName, fmCreate);
    SaveToStream(file);
}

TStringList::TStringList(const TStringList& other)
    : TStrings(),
      items_(other.items_),
      sorted_(other.sorted_),
      caseSensitive_(other.caseSensitive_),
      duplicates_(other.duplicates_) {}

TStringList& TStringList::operator=(const TStringList& other) {
    if (this != &other) {
        Changing();
        items_ = other.items_;
        sorted_ = other.sorted_;
        caseSensitive_ = other.caseSensitive_;
        duplicates_ = other.duplicates_;
        Changed();
    }
    return *this;
}

void TStringList::CheckIndex(int index) const {
    if (index < 0 || index >= Count()) ListIndexError(index);
}

int TStringList::Compare(const std::string& a, const std::string& b) const {
    return caseSensitive_ ? a.compare(b) : CompareText(a, b);
}

void TStringList::Changing() {
    if (UpdateCount() == 0 && onChanging_) onChanging_();
}

void TStringList::Changed() {
    if (UpdateCount() == 0 && onChange_) onChange_();
}

void TStringList::SetUpdateState(bool updating) {
    if (updating) {
        if (onChanging_) onChanging_();
    } else if (onChange_) {
        onChange_();
    }
}

std::string TStringList::Get(int index) const {
    CheckIndex(index);
    return items_[static_cast<size_t>(index)].text;
}

void TStringList::Put(int index, const std::string& value) {
    if (sorted_) throw EListError("Operation not allowed on sorted list");
    CheckIndex(index);
    Changing();
    items_[static_cast<size_t>(index)].text = value;
    Changed();
}

void TStringList::InsertItem(int index, const std::string& value, void* object) {
    Changing();
    items_.insert(items_.begin() + index, Item{value, object});
    Changed();
}

void TStringList::Insert(int index, const std::string& value) {
    if (sorted_) throw EListError("Operation not allowed on sorted list");
    if (index < 0 || index > Count()) ListIndexError(index);
    InsertItem(index, value, nullptr);
}

int TStringList::AddObject(const std::string& value, void* object) {
    int index = Count();
    if (sorted_ && Find(value, index)) {
        if (duplicates_ == dupIgnore) return index;
        if (duplicates_ == dupError) throw EListError("String list does not allow duplicates");
    }
    InsertItem(index, value, object);
    return index;
}

int TStringList::Add(const std::string& value) { return AddObject(value, nullptr); }

void TStringList::Delete(int index) {
    CheckIndex(index);
    Changing();
    items_.erase(items_.begin() + index);
    Changed();
}

void TStringList::Clear() {
    if (items_.empty()) return;
    Changing();
    items_.clear();
    Changed();
}

void* TStringList::Objects(int index) const {
    CheckIndex(index);
    return items_[static_cast<size_t>(index)].object;
}

void TStringList::SetObjects(int index, void* object) {
    CheckIndex(index);
    items_[static_cast<size_t>(index)].object = object;
}

int TStringList::IndexOf(const std::string& value) const {
    if (!sorted_) return TStrings::IndexOf(value);
    int index;
    return Find(value, index) ? index : -1;
}

bool TStringList::Find(const std::string& value, int& index) const {
    // Lower bound, so that with duplicates the first equal line is found.
    int lo = 0;
    int hi = Count();
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (Compare(items_[static_cast<size_t>(mid)].text, value) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    index = lo;
    return lo < Count() && Compare(items_[static_cast<size_t>(lo)].text, value) == 0;
}

void TStringList::Sort() {
    Changing();
    std::stable_sort(items_.begin(), items_.end(),
                     [this](const Item& a, const Item& b) { return Compare(a.text, b.text) < 0; });
    Changed();
}

void TStringList::SetSorted(bool value) {
    if (value && !sorted_) Sort();
    sorted_ = value;
}

void TStringList::SetCaseSensitive(bool value) {
    if (value == caseSensitive_) return;
    caseSensitive_ = value;
    if (sorted_) Sort();
}

}  // namespace rtl

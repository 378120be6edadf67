#include "rtl/inifiles.h"

#include <algorithm>

#include "rtl/numconv.h"
#include "rtl/paths.h"
#include "rtl/streams.h"
#include "rtl/textutils.h"

namespace rtl {
namespace {

std::string Unquote(const std::string& value) {
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        return value.substr(1, value.size() - 2);
    return value;
}

}  // namespace

TIniFile::TIniFile(const std::string& fileName) : fileName_(fileName) {
    if (!FileExists(fileName)) return;
    TStringList text;
    text.LoadFromFile(fileName);
    std::string section;
    for (int i = 0; i < text.Count(); ++i) {
        Line line;
        line.text = text[i];
        const std::string trimmed = Trim(line.text);
        if (!trimmed.empty() && trimmed[0] == '[') {
            const std::string::size_type close = trimmed.find(']');
            section =
                Trim(trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            line.header = true;
        } else if (!trimmed.empty() && trimmed[0] != ';') {
            const std::string::size_type eq = trimmed.find('=');
            if (eq != std::string::npos && eq > 0) {
                line.key = Trim(trimmed.substr(0, eq));
                line.value = Unquote(Trim(trimmed.substr(eq + 1)));
            }
        }
        line.section = section;
        lines_.push_back(std::move(line));
    }
}

const TIniFile::Line* TIniFile::Find(const std::string& section, const std::string& key) const {
    for (const Line& line : lines_) {
        if (!line.header && !line.key.empty() && SameText(line.section, section) &&
            SameText(line.key, key))
            return &line;
    }
    return nullptr;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& fallback) const {
    const Line* line = Find(section, key);
    return line ? line->value : fallback;
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key,
                              int32_t fallback) const {
    return StrToIntDef(ReadString(section, key, ""), fallback);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool fallback) const {
    int32_t v;
    return TryStrToInt(ReadString(section, key, ""), v) ? v != 0 : fallback;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
    const std::string cleanKey = Trim(key);
    for (Line& line : lines_) {
        if (!line.header && SameText(line.section, section) && SameText(line.key, cleanKey)) {
            line.value = value;
            line.text = line.key + "=" + value;
            Save();
            return;
        }
    }
    Line line;
    line.section = section;
    line.key = cleanKey;
    line.value = value;
    line.text = cleanKey + "=" + value;
    // After the last line of the section, or in a new section at the end.
    auto last = lines_.end();
    for (auto it = lines_.begin(); it != lines_.end(); ++it) {
        if (SameText(it->section, section) && (it->header || !Trim(it->text).empty()))
            last = it + 1;
    }
    if (last == lines_.end() && !SectionExists(section)) {
        Line header;
        header.header = true;
        header.section = section;
        header.text = "[" + section + "]";
        lines_.push_back(header);
        lines_.push_back(line);
    } else {
        lines_.insert(last, line);
    }
    Save();
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
    WriteString(section, key, IntToStr(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::SectionExists(const std::string& section) const {
    return std::any_of(lines_.begin(), lines_.end(), [&](const Line& line) {
        return line.header && SameText(line.section, section);
    });
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
    return Find(section, key) != nullptr;
}

void TIniFile::ReadSection(const std::string& section, TStrings& strings) const {
    strings.BeginUpdate();
    strings.Clear();
    for (const Line& line : lines_) {
        if (!line.header && !line.key.empty() && SameText(line.section, section) &&
            Find(section, line.key) == &line)
            strings.Add(line.key);
    }
    strings.EndUpdate();
}

void TIniFile::ReadSections(TStrings& strings) const {
    strings.BeginUpdate();
    strings.Clear();
    for (const Line& line : lines_) {
        if (line.header && strings.IndexOf(line.section) < 0) strings.Add(line.section);
    }
    strings.EndUpdate();
}

void TIniFile::ReadSectionValues(const std::string& section, TStrings& strings) const {
    strings.BeginUpdate();
    strings.Clear();
    for (const Line& line : lines_) {
        if (!line.header && !line.key.empty() && SameText(line.section, section) &&
            Find(section, line.key) == &line)
            strings.Add(line.key + "=" + line.value);
    }
    strings.EndUpdate();
}

void TIniFile::EraseSection(const std::string& section) {
    const auto before = lines_.size();
    lines_.erase(std::remove_if(lines_.begin(), lines_.end(),
                                [&](const Line& line) { return SameText(line.section, section); }),
                 lines_.end());
    if (lines_.size() != before) Save();
}

void TIniFile::DeleteKey(const std::string& section, const std::string& key) {
    const auto before = lines_.size();
    lines_.erase(std::remove_if(lines_.begin(), lines_.end(),
                                [&](const Line& line) {
                                    return !line.header && SameText(line.section, section) &&
                                           SameText(line.key, key);
                                }),
                 lines_.end());
    if (lines_.size() != before) Save();
}

void TIniFile::Save() const {
    TStringList text;
    for (const Line& line : lines_) text.Add(line.text);
    text.SaveToFile(fileName_);
}

}  // namespace rtl

// TIniFile: a text file of [sections] and key=value lines (alias files, settings).
//
// Reading: section and key names compare without regard to ASCII case and are trimmed; a value is
// the text after the first "=", trimmed, with one pair of enclosing quotes (" or ') removed; the
// first of two equal keys counts; lines that are blank, start with ";" or hold no "=" are
// skipped. A missing file reads as empty. The file name is resolved as a path.
// Writing changes the lines in memory and writes the whole file back at once (CR LF line ends,
// the other lines and comments kept); a file that cannot be written raises EFCreateError.
#pragma once

#include <string>
#include <vector>

#include "rtl/stringlist.h"

namespace rtl {

class TIniFile {
  public:
    explicit TIniFile(const std::string& fileName);

    const std::string& FileName() const { return fileName_; }

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& fallback) const;
    // A value that is not an integer (as StrToInt reads them) gives `fallback`.
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t fallback) const;
    // "0" is false, any other integer true; other values give `fallback`.
    bool ReadBool(const std::string& section, const std::string& key, bool fallback) const;

    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int32_t value);
    void WriteBool(const std::string& section, const std::string& key, bool value);

    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;
    // Replaces the contents of `strings` with the keys / the sections / key=value lines.
    void ReadSection(const std::string& section, TStrings& strings) const;
    void ReadSections(TStrings& strings) const;
    void ReadSectionValues(const std::string& section, TStrings& strings) const;
    void EraseSection(const std::string& section);
    void DeleteKey(const std::string& section, const std::string& key);

  private:
    struct Line {
        std::string text;
        std::string section;  // the section the line belongs to (the header's own name)
        std::string key;      // empty unless the line is key=value
        std::string value;
        bool header = false;
    };
    const Line* Find(const std::string& section, const std::string& key) const;
    void Save() const;

    std::string fileName_;
    std::vector<Line> lines_;
};

}  // namespace rtl

// Single-byte code pages: text inside the system is bytes of a table's code page (Windows-1252
// unless the table says otherwise); these convert at the edges, to and from UTF-8 and between an
// OEM (DOS) page and its ANSI (Windows) partner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rtl {

class CodePage {
  public:
    CodePage(int number, const uint16_t* upper, bool oem, int ansiPartner)
        : number_(number), upper_(upper), oem_(oem), ansiPartner_(ansiPartner) {}
    int Number() const { return number_; }
    // A DOS page (437, 850...), as opposed to a Windows page (1250, 1252...).
    bool IsOem() const { return oem_; }
    // The Windows page of the same script (itself for a Windows page).
    int AnsiPartner() const { return ansiPartner_; }
    char32_t ToUnicode(uint8_t byte) const { return byte < 0x80 ? byte : upper_[byte - 0x80]; }
    // The byte that holds c, or -1 when the page has none.
    int FromUnicode(char32_t c) const;

  private:
    int number_;
    const uint16_t* upper_;
    bool oem_;
    int ansiPartner_;
};

// 437, 850, 852, 865, 866, 1250, 1251, 1252, 1253, 1254, 1257; null for others.
const CodePage* FindCodePage(int number);
// Windows-1252, the page of text that names none.
const CodePage& DefaultCodePage();

// The page a DBF header's code-page mark names (0x03 and 0x57: 1252, 0x01: 437, 0x02: 850, 0x64:
// 852, 0xC8: 1250, 0xC9: 1251...); 0 and marks not known here: 1252.
const CodePage& CodePageOfDbfMark(uint8_t mark);

// Bytes of the page as UTF-8; every byte has a character, so this never fails.
std::string ToUtf8(const CodePage& page, std::string_view bytes);
// UTF-8 as bytes of the page. nullopt when the text is not UTF-8 or holds a character the page
// cannot hold; *bad (when given) then receives the byte offset of that character in utf8.
std::optional<std::string> FromUtf8(const CodePage& page, std::string_view utf8,
                                    size_t* bad = nullptr);
// FromUtf8 for valid UTF-8 that may hold characters the page lacks: each becomes replacement.
std::string FromUtf8Replacing(const CodePage& page, std::string_view utf8, char replacement);
// Whether s is well-formed UTF-8.
bool IsUtf8(std::string_view s);
// Bytes of one page as bytes of another; nullopt (and *bad, the offset) at the first character
// `to` cannot hold.
std::optional<std::string> Translate(const CodePage& from, const CodePage& to,
                                     std::string_view bytes, size_t* bad = nullptr);
// The same with each character `to` lacks written as replacement.
std::string TranslateReplacing(const CodePage& from, const CodePage& to, std::string_view bytes,
                               char replacement);

}  // namespace rtl

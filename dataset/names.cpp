#include "dataset/names.h"

#include <cctype>

namespace db {

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string FoldName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return folded;
}

std::vector<std::string> SplitNames(std::string_view names) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos <= names.size()) {
        size_t end = names.find(';', pos);
        if (end == std::string_view::npos) end = names.size();
        std::string_view part = names.substr(pos, end - pos);
        while (!part.empty() && static_cast<unsigned char>(part.front()) <= ' ')
            part.remove_prefix(1);
        while (!part.empty() && static_cast<unsigned char>(part.back()) <= ' ')
            part.remove_suffix(1);
        bool last = end >= names.size();
        // "A;" names only A; an empty text names nothing.
        if (!(last && part.empty() && (end == pos))) out.emplace_back(part);
        if (last) break;
        pos = end + 1;
    }
    return out;
}

}  // namespace db

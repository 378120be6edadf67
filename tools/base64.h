// Standard base64 (RFC 4648, with padding), for binary values in kdstool's JSON.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tools {

std::string Base64Encode(std::string_view bytes);
// nullopt for text that is not base64 (a bad character, a wrong length or padding).
std::optional<std::string> Base64Decode(std::string_view text);

}  // namespace tools

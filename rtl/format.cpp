#include "rtl/format.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <vector>

#include "rtl/exceptions.h"
#include "rtl/formatsettings.h"
#include "rtl/numconv.h"

namespace rtl {
namespace {

[[noreturn]] void Invalid(std::string_view format) {
    throw EConvertError("Format '" + std::string(format) +
                        "' invalid or incompatible with argument");
}

std::string FixedText(double value, int decimals, bool thousands, const TFormatSettings& s) {
    if (std::isnan(value) || std::isinf(value)) return FloatToStrGeneral(value, 15, '.');
    std::vector<char> buf(400);
    int len = std::snprintf(buf.data(), buf.size(), "%.*f", decimals, value);
    std::string text(buf.data(), static_cast<size_t>(len));
    std::string::size_type dot = text.find('.');
    std::string intPart = text.substr(0, dot);
    std::string frac = dot == std::string::npos ? "" : text.substr(dot + 1);
    if (thousands) {
        size_t start = intPart[0] == '-' ? 1 : 0;
        for (long i = static_cast<long>(intPart.size()) - 3; i > static_cast<long>(start); i -= 3)
            intPart.insert(static_cast<size_t>(i), 1, s.ThousandSeparator);
    }
    return frac.empty() ? intPart : intPart + s.DecimalSeparator + frac;
}

std::string ScientificText(double value, int precision, const TFormatSettings& s) {
    if (std::isnan(value) || std::isinf(value)) return FloatToStrGeneral(value, 15, '.');
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*E", precision - 1, value);
    std::string text = buf;
    std::string::size_type dot = text.find('.');
    if (dot != std::string::npos) text[dot] = s.DecimalSeparator;
    // Exponent with sign and at least three digits: 1.5E+003.
    std::string::size_type e = text.find('E');
    std::string exp = text.substr(e + 2);
    while (exp.size() < 3) exp.insert(0, 1, '0');
    return text.substr(0, e + 2) + exp;
}

}  // namespace

std::string Format(std::string_view format, std::initializer_list<FormatArg> args) {
    const std::vector<const FormatArg*> list = [&] {
        std::vector<const FormatArg*> v;
        for (const FormatArg& a : args) v.push_back(&a);
        return v;
    }();
    TFormatSettings settings;
    bool settingsRead = false;
    std::string out;
    size_t next = 0;
    const size_t n = format.size();
    for (size_t i = 0; i < n; ++i) {
        if (format[i] != '%') {
            out += format[i];
            continue;
        }
        if (++i == n) Invalid(format);
        if (format[i] == '%') {
            out += '%';
            continue;
        }
        auto readNumber = [&](int& value) {
            bool any = false;
            value = 0;
            while (i < n && format[i] >= '0' && format[i] <= '9') {
                value = value * 10 + (format[i++] - '0');
                any = true;
                if (value > 10000) Invalid(format);
            }
            return any;
        };
        int number = 0;
        size_t mark = i;
        if (readNumber(number) && i < n && format[i] == ':') {
            next = static_cast<size_t>(number);
            ++i;
        } else {
            i = mark;
        }
        bool left = false;
        if (i < n && format[i] == '-') {
            left = true;
            ++i;
        }
        int width = 0;
        readNumber(width);
        int precision = -1;
        if (i < n && format[i] == '.') {
            ++i;
            if (!readNumber(precision)) Invalid(format);
        }
        if (i == n || next >= list.size()) Invalid(format);
        const FormatArg& arg = *list[next++];
        char type = static_cast<char>(std::tolower(static_cast<unsigned char>(format[i])));
        if (!settingsRead && (type == 'g' || type == 'f' || type == 'e' || type == 'n')) {
            settings = FormatSettings();
            settingsRead = true;
        }
        std::string piece;
        switch (type) {
            case 'd':
            case 'u':
            case 'x': {
                if (arg.GetKind() != FormatArg::Kind::Integer) Invalid(format);
                int64_t v = arg.Integer();
                bool negative = false;
                std::string digits;
                if (type == 'x') {
                    digits = IntToHex(static_cast<uint64_t>(v), 1);
                } else if (type == 'u') {
                    digits = std::to_string(static_cast<uint64_t>(v));
                } else {
                    negative = v < 0;
                    digits = std::to_string(v);
                    if (negative) digits.erase(0, 1);
                }
                if (precision > 0 && static_cast<int>(digits.size()) < precision)
                    digits.insert(0, static_cast<size_t>(precision) - digits.size(), '0');
                piece = (negative ? "-" : "") + digits;
                break;
            }
            case 's':
                if (arg.GetKind() != FormatArg::Kind::Text) Invalid(format);
                piece = std::string(arg.Text());
                if (precision >= 0 && piece.size() > static_cast<size_t>(precision))
                    piece.resize(static_cast<size_t>(precision));
                break;
            case 'g':
            case 'f':
            case 'e':
            case 'n': {
                double v;
                if (arg.GetKind() == FormatArg::Kind::Float)
                    v = arg.Float();
                else if (arg.GetKind() == FormatArg::Kind::Integer)
                    v = static_cast<double>(arg.Integer());
                else
                    Invalid(format);
                if (type == 'g')
                    piece = FloatToStrGeneral(v, precision < 0 ? 15 : precision,
                                              settings.DecimalSeparator);
                else if (type == 'e')
                    piece =
                        ScientificText(v, precision < 1 ? 15 : std::min(precision, 18), settings);
                else
                    piece = FixedText(v, precision < 0 ? 2 : std::min(precision, 18), type == 'n',
                                      settings);
                break;
            }
            default:
                Invalid(format);
        }
        if (static_cast<int>(piece.size()) < width) {
            size_t pad = static_cast<size_t>(width) - piece.size();
            if (left)
                piece.append(pad, ' ');
            else
                piece.insert(0, pad, ' ');
        }
        out += piece;
    }
    return out;
}

}  // namespace rtl

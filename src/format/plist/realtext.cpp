#include "format/plist/realtext.h"

#include <cmath>
#include <cstdio>
#include <system_error>

#include <fast_float/fast_float.h>

namespace varko::plist {

std::string printReal(double d, int precision) {
    char buf[48];
    const int n = std::snprintf(buf, sizeof buf, "%.*g", precision, d);
    if (n <= 0) return {};
    std::string out;
    // printf writes the decimal point of the process locale, which Qt takes from the
    // environment; %g writes nothing else but digits, signs and 'e', so what remains is it.
    bool inPoint = false;
    for (const char c : std::string_view(buf, static_cast<std::size_t>(n))) {
        const bool ours = (c >= '0' && c <= '9') || c == '-' || c == '+' || c == 'e';
        if (!ours && !inPoint) out += '.';
        if (ours) out += c;
        inPoint = !ours;
    }
    return out;
}

std::optional<double> readReal(std::string_view text) {
    double v = 0;
    const auto [end, ec] = fast_float::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    // fast_float rounds past the range to infinity or zero where strtod says ERANGE. The
    // mantissa of "inf" holds no digit.
    const std::string_view mantissa = text.substr(0, text.find_first_of("eE"));
    const bool digits = mantissa.find_first_of("0123456789") != std::string_view::npos;
    const bool nonZero = mantissa.find_first_of("123456789") != std::string_view::npos;
    if ((std::isinf(v) && digits) || (v == 0 && nonZero)) return std::nullopt;
    return v;
}

}  // namespace varko::plist

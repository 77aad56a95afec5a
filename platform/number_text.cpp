#include "platform/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace platform {

namespace {

std::string_view TrimBlanks(std::string_view text) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// Drops one leading '+' (from_chars takes only '-'), but not "+-5" or a lone "+".
std::optional<std::string_view> NumberBody(std::string_view text) {
    text = TrimBlanks(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (text.empty() || text.front() == '-' || text.front() == '+') {
            return std::nullopt;
        }
    }
    if (text.empty()) {
        return std::nullopt;
    }
    return text;
}

} // namespace

// std::to_chars never consults the process locale (printf does: a program whose locale was set
// from the environment would write "0,95"), and with a precision it gives printf's digits.
std::string FormatFixed6(double value) {
    char buffer[400]; // the widest fixed form of a double is 309 digits plus a sign
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 0);
    std::string text(buffer, result.ptr);
    if (text.size() < 6) {
        text.insert(0, 6 - text.size(), ' ');
    }
    return text;
}

std::string FormatDecimals(double value, int decimals) {
    char buffer[400];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return std::string(buffer, result.ptr);
}

std::string FormatFigure(double value, int decimals, bool plus) {
    if (std::isnan(value)) {
        return "n/a";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-inf" : "inf";
    }
    std::string text = FormatDecimals(value, decimals);
    if (text.find_first_not_of("-0.") == std::string::npos) { // "-0.00": rounds to zero
        text = FormatDecimals(0.0, decimals);
    }
    return plus && text.front() != '-' ? "+" + text : text;
}

std::string FormatGeneral15(double value) {
    char buffer[64];
    // Like %g, the general form drops trailing zeros and a trailing decimal point.
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    return std::string(buffer, result.ptr);
}

std::string FormatHz(double frequency) {
    return FormatGeneral15(frequency) + " Hz";
}

std::optional<double> ParseDouble(std::string_view text) {
    const auto body = NumberBody(text);
    if (!body) {
        return std::nullopt;
    }
    // Only digits, a point, an exponent and a sign may appear: this rules out "nan", "inf" and
    // "infinity", which from_chars would otherwise accept.
    for (char c : *body) {
        if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '-' || c == '+')) {
            return std::nullopt;
        }
    }
    double value = 0.0;
    const auto [end, error] = std::from_chars(body->data(), body->data() + body->size(), value);
    if (error != std::errc{} || end != body->data() + body->size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

bool HasDecimalComma(std::string_view text) {
    if (text.find(',') == std::string_view::npos || ParseDouble(text)) {
        return false;
    }
    std::string pointed(text);
    std::replace(pointed.begin(), pointed.end(), ',', '.');
    return ParseDouble(pointed).has_value();
}

std::optional<std::uint32_t> ParseUnsigned32(std::string_view text) {
    const auto body = NumberBody(text);
    if (!body || body->front() == '-') {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(body->data(), body->data() + body->size(), value);
    if (error != std::errc{} || end != body->data() + body->size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace platform

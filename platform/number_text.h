#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Formatting and parsing here never consult the process locale: numbers always use a decimal point,
// whatever LANG, LC_ALL or LC_NUMERIC say.

// printf-style "%6.0f": no decimals, right-aligned in at least 6 characters.
std::string FormatFixed6(double value);

// Fixed notation with `decimals` digits after the point (0 to 17), like printf's "%.Nf".
std::string FormatDecimals(double value, int decimals);

// A measured figure for people: FormatDecimals, except that a value that rounds to zero reads
// without a minus sign ("0.00", not "-0.00"), and with `plus` a value that does not read negative
// gets a "+". NaN reads "n/a"; infinities "inf" and "-inf".
std::string FormatFigure(double value, int decimals, bool plus = false);

// General format rounded to 15 significant digits ("%.15g"), trailing zeros and a trailing
// decimal point removed: 30.0 -> "30", 0.95 -> "0.95".
std::string FormatGeneral15(double value);

// A frequency for people: the general format of FormatGeneral15 and " Hz" ("277 Hz", "20947.5 Hz").
std::string FormatHz(double frequency);

// Parses the whole of `text` as a finite decimal number with a decimal point, whatever the
// user's locale. Blanks (spaces, tabs) around the number are allowed, a leading '+' too; anything else
// after it is an error. "nan", "inf", hexadecimal and values that overflow a double give nullopt.
std::optional<double> ParseDouble(std::string_view text);

// True when `text` is not a number as ParseDouble reads it but would be with each comma read as a
// decimal point ("0,95"): the user wrote a decimal comma, and a message should say so.
bool HasDecimalComma(std::string_view text);

// Parses the whole of `text` as an unsigned decimal integer that fits 32 bits, with the same
// blank and sign rules as ParseDouble; a fraction or an exponent gives nullopt.
std::optional<std::uint32_t> ParseUnsigned32(std::string_view text);

} // namespace platform

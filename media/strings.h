// Small text helpers shared by the engine, the DVD wrapper and the application.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

// The characters Trim removes: space, tab, line feed, carriage return, vertical tab, form feed
// (what isspace() holds in the C locale).
inline constexpr std::string_view kWhitespace = " \t\n\r\v\f";

// `text` without leading and trailing kWhitespace.
std::string_view Trim(std::string_view text);

// printf into a string of whatever length the result needs.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatTextV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// Returns the part of `source` before the first `separator`, or the whole of `source` when
// the separator does not occur. With `cut`, `source` loses that part and the separator
// (and becomes empty when the separator does not occur). An empty separator never occurs.
std::string SplitAtSeparator(std::string& source, std::string_view separator, bool cut);

// ASCII-only case-insensitive comparison (option names, INI keys, file names in lists).
bool SameText(std::string_view a, std::string_view b);
std::string LowerCase(std::string_view text);

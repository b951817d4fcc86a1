// Small text helpers shared by the engine, the DVD wrapper and the application.
#pragma once

#include <string>
#include <string_view>

// Returns the part of `source` before the first `separator`, or the whole of `source` when
// the separator does not occur. With `cut`, `source` loses that part and the separator
// (and becomes empty when the separator does not occur). An empty separator never occurs.
std::string SplitAtSeparator(std::string& source, std::string_view separator, bool cut);

// ASCII-only case-insensitive comparison (option names, INI keys, file names in lists).
bool SameText(std::string_view a, std::string_view b);
std::string LowerCase(std::string_view text);

#include "media/strings.h"

#include <algorithm>
#include <cstdio>

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(kWhitespace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kWhitespace) - first + 1);
}

std::string FormatTextV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int needed = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (needed <= 0) return {};
  std::string text(size_t(needed), '\0');
  vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatTextV(format, args);
  va_end(args);
  return text;
}

std::string SplitAtSeparator(std::string& source, std::string_view separator, bool cut) {
  const size_t at = separator.empty() ? std::string::npos : source.find(separator);
  if (at == std::string::npos) {
    std::string head = source;
    if (cut) source.clear();
    return head;
  }
  std::string head = source.substr(0, at);
  if (cut) source.erase(0, at + separator.size());
  return head;
}

static char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), AsciiLower);
  return out;
}

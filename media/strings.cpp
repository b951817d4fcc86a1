#include "media/strings.h"

#include <algorithm>

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

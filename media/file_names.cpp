#include "media/file_names.h"

#include <cstring>

#include "media/file_stream.h"
#include "media/io_scheme.h"

namespace {

constexpr size_t kPrefixLength = sizeof(kUnicodePrefix) - 1;

bool PassesThrough(const std::string& name) {
  const size_t colon = name.find(':');
  if (colon == std::string::npos) return false;
  const std::string word = ":" + name.substr(0, colon) + ":";
  return std::strstr(kPassThroughProtocols, word.c_str()) != nullptr;
}

}  // namespace

void RegisterUnicodeProtocol() {
  if (InputSchemeRegistered("unicode")) return;
  RegisterInputScheme("unicode", [](const std::string& rest, int& error) {
    return OpenFileStream(WideFileNameOf(std::string("unicode:") + rest), error);
  });
}

bool NeedsUnicodeName(const std::string& name) {
  if (PassesThrough(name)) return false;
  const size_t colon = name.find(':');
  if (colon == std::string::npos) return false;
  const size_t slash = name.find('/');
  if (slash != std::string::npos && slash < colon) return false;  // "/media/a:b.vob" is fine
  return InputSchemeOf(name).empty();
}

std::string LibraryFileNameOf(const std::string& name) {
  return NeedsUnicodeName(name) ? kUnicodePrefix + name : name;
}

std::string LibraryOutputNameOf(const std::string& name) {
  return NeedsUnicodeName(name) ? "file:" + name : name;
}

std::string WideFileNameOf(const std::string& libraryName) {
  if (libraryName.size() > kPrefixLength &&
      libraryName.compare(0, kPrefixLength, kUnicodePrefix) == 0)
    return libraryName.substr(kPrefixLength);
  return libraryName;
}

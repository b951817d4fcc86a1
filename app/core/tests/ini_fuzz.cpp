// libFuzzer target: the INI reader and the settings store on a file of any content.
//
// Input: a first line "SECTION<TAB>KEY<TAB>VALUE" naming what to look up and then write,
// followed by the file's text. Every read is made (on the file and on the same text held
// in memory, which must agree), every typed setting is read, then the value is written and
// read back: a write that succeeds must read back as written (blanks around it aside), and
// leave every other section and key as it read before.
//
//   bin/app_ini_fuzz -max_total_time=60 corpus/ tests/fuzz/app_ini_fuzz/
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "app/core/ini_file.h"
#include "app/core/settings_store.h"
#include "app/core/tests/fuzz_support.h"
#include "media/strings.h"

namespace {

// A broken property: says which, then ends the run as a finding.
#define Require(condition)                                                               \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: %s does not hold\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

// The file's own whitespace set (form feeds and vertical tabs included), as reads and writes
// trim names and values.
std::string Unblank(const std::string& text) {
  return std::string(Trim(text));
}

// Names are matched without regard to ASCII case.
bool SameName(const std::string& a, const std::string& b) {
  const std::string x = Unblank(a), y = Unblank(b);
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(x[i])) !=
        std::tolower(static_cast<unsigned char>(y[i])))
      return false;
  return true;
}

void ReadEverySetting(const TSettingsStore& store) {
  store.FormatCode();
  store.FormatCodeText();
  store.FormatName();
  store.OutPutDir();
  store.SnapOutPutDir();
  store.Volume();
  const int volume = store.PreviewVolume();
  Require(volume >= 0 && volume <= 128);
  store.Mute();
  store.SnapFullSize();
  store.SnapSmallSize();
  store.SnapBmp();
  store.SnapJpg();
  store.JpgCmp();
  store.Priority();
  for (int group = -1; group <= 3; ++group) store.GroupCollapsed(group);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string_view first = TakeLine(rest);
  const std::string section = Field(first, 0), key = Field(first, 1), value = Field(first, 2);
  const std::filesystem::path path = FuzzFolder() / "korveldvdtoswfconverter.ini";
  PutFile(path, rest);

  TSettingsStore store(path.string());
  const TIniFile& ini = store.Ini();
  const TIniMemory memory(rest);
  const std::string before = ini.ReadString(section, key, "\x01");
  const auto found = memory.Find(section, key);
  Require(found ? before == *found : before == "\x01");
  Require(ini.SectionExists(section) == memory.SectionExists(section));
  ini.ValueExists(section, key);
  ini.ReadInteger(section, key, 7);
  ini.ReadBool(section, key, true);
  const auto names = ini.ReadSection(section);
  memory.SectionLines(section);
  int number = 0;
  TryParseInteger(value, number);
  ReadEverySetting(store);

  // Another key of the file, to see that the write leaves it alone.
  const std::string other = names.empty() ? std::string() : names.front();
  const std::string otherBefore = ini.ReadString(section, other, "\x01");
  try {
    store.Ini().WriteString(section, key, value);
  } catch (const std::invalid_argument&) {
    return 0;  // a name or value the file cannot hold: refused, nothing written
  } catch (const EIniFileException&) {
    return 0;
  }
  Require(ini.ReadString(section, key, "\x01") == Unblank(value));
  if (!other.empty() && !SameName(other, key))
    Require(ini.ReadString(section, other, "\x01") == otherBefore);
  ReadEverySetting(store);
  store.SetGroupCollapsed(number, number % 2 != 0);
  Require(store.GroupCollapsed(number) == (number % 2 != 0));
  return 0;
}

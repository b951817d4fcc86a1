#include "app/core/ini_file.h"

#include <sys/stat.h>

#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "app/core/tests/config_env.h"

namespace fs = std::filesystem;

struct IntegerCase {
  std::string text;
  bool ok;
  int value;
};

void PrintTo(const IntegerCase& c, std::ostream* os) {
  *os << '"' << c.text << '"';
}

class TryParseIntegerTest : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(TryParseIntegerTest, AcceptsPlainDecimalOnly) {
  int value = -777;
  EXPECT_EQ(TryParseInteger(GetParam().text, value), GetParam().ok);
  EXPECT_EQ(value, GetParam().ok ? GetParam().value : -777);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TryParseIntegerTest,
    ::testing::Values(IntegerCase{"0", true, 0}, IntegerCase{"42", true, 42},
                      IntegerCase{"-3", true, -3}, IntegerCase{"+7", true, 7},
                      IntegerCase{"2147483647", true, 2147483647},
                      IntegerCase{"2147483648", false, 0}, IntegerCase{"", false, 0},
                      IntegerCase{"-", false, 0}, IntegerCase{"+-1", false, 0},
                      IntegerCase{"12a", false, 0}, IntegerCase{"1.5", false, 0},
                      IntegerCase{" 1", false, 0}, IntegerCase{"0x10", false, 0}));

TEST(IniFile, MissingFileGivesDefaults) {
  const TIniFile ini(TestFolder() + "/none.ini");
  EXPECT_EQ(ini.ReadString("settings", "x", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadInteger("settings", "x", 5), 5);
  EXPECT_TRUE(ini.ReadBool("settings", "x", true));
  EXPECT_FALSE(ini.SectionExists("settings"));
  EXPECT_FALSE(ini.ValueExists("settings", "x"));
  EXPECT_TRUE(ini.ReadSection("settings").empty());
}

TEST(IniFile, SectionsAndKeysIgnoreCase) {
  const std::string path = TestFolder() + "/a.ini";
  WriteText(path, "[SETTINGS]\nPRIORITY=2\n[FormatInfo101]\nParaZoom=pan\n");
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("settings", "priority", 1), 2);
  EXPECT_EQ(ini.ReadInteger("Settings", "Priority", 1), 2);
  EXPECT_EQ(ini.ReadString("formatinfo101", "parazoom", "lbox"), "pan");
  // A write under another spelling replaces the same line.
  ini.WriteInteger("settings", "priority", 3);
  EXPECT_EQ(ReadFile(path), "[SETTINGS]\nPRIORITY=3\n[FormatInfo101]\nParaZoom=pan\n");
}

// Names with blanks around them: a read finds what a write with the same names wrote, in
// the file and in memory alike (found by the INI fuzz target: the write trimmed the names,
// the reads did not).
TEST(IniFile, BlanksAroundNamesAreIgnoredByReadsAsByWrites) {
  const std::string path = TestFolder() + "/blanks.ini";
  WriteText(path, "[ settings ]\nVOLUME = -20\n");
  TIniFile ini(path);
  struct {
    std::string Section, Key;
  } spellings[] = {{"settings", "volume"}, {" Settings ", " volume "}, {"\tsettings", "volume\t"}};
  for (const auto& name : spellings) {
    SCOPED_TRACE("[" + name.Section + "] " + name.Key);
    EXPECT_EQ(ini.ReadInteger(name.Section, name.Key, 0), -20);
    EXPECT_TRUE(ini.SectionExists(name.Section));
    EXPECT_TRUE(ini.ValueExists(name.Section, name.Key));
    EXPECT_EQ(ini.ReadSection(name.Section), std::vector<std::string>{"VOLUME"});
    const TIniMemory memory(ReadFile(path));
    EXPECT_EQ(memory.Find(name.Section, name.Key), std::optional<std::string>("-20"));
  }
  ini.WriteString(" Settings ", " volume ", " 12 ");
  EXPECT_EQ(ini.ReadString(" Settings ", " volume ", ""), "12");
  EXPECT_EQ(ReadFile(path), "[ settings ]\nVOLUME = 12\n");
}

TEST(IniFile, MalformedIntegerAndBooleans) {
  const std::string path = TestFolder() + "/a.ini";
  WriteText(path, "[s]\nbad=12x\nempty=\ntwo=2\nzero=0\nword=yes\n");
  const TIniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("s", "bad", 9), 9);
  EXPECT_EQ(ini.ReadInteger("s", "empty", 9), 9);
  EXPECT_EQ(ini.ReadString("s", "empty", "d"), "");
  EXPECT_TRUE(ini.ValueExists("s", "empty"));
  EXPECT_TRUE(ini.ReadBool("s", "two", false));
  EXPECT_FALSE(ini.ReadBool("s", "zero", true));
  EXPECT_TRUE(ini.ReadBool("s", "word", true));
  EXPECT_FALSE(ini.ReadBool("s", "word", false));
}

TEST(IniFile, WriteCreatesFolderFileAndSection) {
  const std::string path = TestFolder() + "/deep/er/a.ini";
  TIniFile ini(path);
  ini.WriteString("settings", "OutPutDir", "/tmp/x");
  ini.WriteBool("lstformat", "0", false);
  EXPECT_EQ(ReadFile(path), "[settings]\nOutPutDir=/tmp/x\n\n[lstformat]\n0=0\n");
}

TEST(IniFile, WriteIsVisibleToAnotherReaderAtOnce) {
  const std::string path = TestFolder() + "/a.ini";
  TIniFile writer(path);
  const TIniFile reader(path);
  for (int i = 0; i < 5; ++i) {
    writer.WriteInteger("settings", "volume", i * 10);
    EXPECT_EQ(reader.ReadInteger("settings", "volume", -1), i * 10);
    EXPECT_NE(ReadFile(path).find("volume=" + std::to_string(i * 10) + "\n"), std::string::npos);
  }
}

TEST(IniFile, HandEditedFileSurvivesWrites) {
  const std::string path = TestFolder() + "/a.ini";
  const std::string original =
      "\xEF\xBB\xBF; written by hand\r\n"
      "stray line before any section\r\n"
      "\r\n"
      "[ settings ]\r\n"
      "  OutPutDir   =   /media/old  \r\n"
      "# a comment inside\r\n"
      "UnknownKey=keep me\r\n"
      "\r\n"
      "[Unknown Section]\r\n"
      "x = 1 = 2\r\n";
  WriteText(path, original);
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadString("settings", "outputdir", ""), "/media/old");
  EXPECT_EQ(ini.ReadString("unknown section", "X", ""), "1 = 2");

  ini.WriteString("Settings", "OutPutDir", "/media/new");
  ini.WriteInteger("settings", "volume", 30);
  ini.WriteString("formatInfo1", "paraZoom", "full");
  EXPECT_EQ(ReadFile(path),
            "\xEF\xBB\xBF; written by hand\r\n"
            "stray line before any section\r\n"
            "\r\n"
            "[ settings ]\r\n"
            "  OutPutDir   =   /media/new\r\n"
            "# a comment inside\r\n"
            "UnknownKey=keep me\r\n"
            "volume=30\r\n"
            "\r\n"
            "[Unknown Section]\r\n"
            "x = 1 = 2\r\n"
            "\r\n"
            "[formatInfo1]\r\n"
            "paraZoom=full\r\n");
  EXPECT_EQ(ini.ReadSection("SETTINGS"),
            (std::vector<std::string>{"OutPutDir", "UnknownKey", "volume"}));
}

TEST(IniFile, LastLineWithoutLineEnd) {
  const std::string path = TestFolder() + "/a.ini";
  WriteText(path, "[s]\na=1");
  TIniFile ini(path);
  ini.WriteString("s", "b", "2");
  EXPECT_EQ(ReadFile(path), "[s]\na=1\nb=2\n");
  WriteText(path, "[s]\na=1\n[t]\nc=3");
  ini.WriteString("s", "a", "9");
  EXPECT_EQ(ReadFile(path), "[s]\na=9\n[t]\nc=3");
}

TEST(IniFile, FirstOfDuplicateSectionsAndKeysCounts) {
  const std::string path = TestFolder() + "/a.ini";
  WriteText(path, "[s]\nk=1\nk=2\n[S]\nk=3\nj=4\n");
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("s", "k", 0), 1);
  EXPECT_EQ(ini.ReadInteger("s", "j", 0), 0);
  ini.WriteInteger("s", "k", 7);
  EXPECT_EQ(ReadFile(path), "[s]\nk=7\nk=2\n[S]\nk=3\nj=4\n");
}

TEST(IniFile, RefusesWhatTheFormatCannotHold) {
  const std::string path = TestFolder() + "/a.ini";
  WriteText(path, "[s]\na=1\n");
  TIniFile ini(path);
  EXPECT_THROW(ini.WriteString("s", "a", "two\nlines"), std::invalid_argument);
  EXPECT_THROW(ini.WriteString("s", "a=b", "1"), std::invalid_argument);
  EXPECT_THROW(ini.WriteString("s]", "a", "1"), std::invalid_argument);
  EXPECT_THROW(ini.WriteString("", "a", "1"), std::invalid_argument);
  EXPECT_THROW(ini.WriteString("s", " ", "1"), std::invalid_argument);
  EXPECT_THROW(ini.WriteString("s", ";a", "1"), std::invalid_argument);
  EXPECT_EQ(ReadFile(path), "[s]\na=1\n");
}

TEST(IniFile, UnwritablePlaceRaisesAndLeavesNothingBehind) {
  const std::string folder = TestFolder();
  WriteText(folder + "/file", "not a folder");
  TIniFile ini(folder + "/file/sub/a.ini");
  try {
    ini.WriteString("s", "a", "1");
    FAIL() << "no exception";
  } catch (const EIniFileException& e) {
    EXPECT_NE(std::string(e.what()).find(folder + "/file/sub/a.ini"), std::string::npos);
  }
  EXPECT_EQ(ini.ReadString("s", "a", "d"), "d");
}

TEST(IniFile, WritesLeaveNoTemporaryFilesAndKeepMode) {
  const std::string folder = TestFolder();
  const std::string path = folder + "/a.ini";
  WriteText(path, "[s]\n");
  chmod(path.c_str(), 0640);
  TIniFile ini(path);
  for (int i = 0; i < 3; ++i) ini.WriteInteger("s", "k" + std::to_string(i), i);
  int files = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    ++files;
    EXPECT_EQ(entry.path().filename(), "a.ini");
  }
  EXPECT_EQ(files, 1);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(IniFile, WriteThroughSymbolicLinkKeepsTheLink) {
  const std::string folder = TestFolder();
  WriteText(folder + "/real.ini", "[s]\na=1\n");
  fs::create_symlink("real.ini", folder + "/link.ini");
  TIniFile ini(folder + "/link.ini");
  ini.WriteString("s", "a", "2");
  EXPECT_TRUE(fs::is_symlink(folder + "/link.ini"));
  EXPECT_EQ(ReadFile(folder + "/real.ini"), "[s]\na=2\n");
}

// Writes replace only regular files: whatever else sits at the name (or at the end of its
// links) is refused and left exactly as it was; reads of such names give the defaults
// without blocking.
struct TNotAFileRow {
  const char* Name;
  // Makes `path` (in `folder`) what the row is about; returns what must still be there.
  void (*Make)(const std::string& folder, const std::string& path);
  const char* Reason;
};

const TNotAFileRow kNotAFile[] = {
    {"LinkToCharacterDevice",
     [](const std::string&, const std::string& path) { fs::create_symlink("/dev/null", path); },
     "it is a symbolic link to a character device, not to a regular file"},
    {"LinkToFolder",
     [](const std::string& folder, const std::string& path) {
       fs::create_directory(folder + "/dir");
       fs::create_symlink(folder + "/dir", path);
     },
     "it is a symbolic link to a folder, not to a regular file"},
    {"DanglingLink",
     [](const std::string& folder, const std::string& path) {
       fs::create_symlink(folder + "/nowhere.ini", path);
     },
     "it is a symbolic link to nothing (No such file or directory)"},
    {"Fifo", [](const std::string&, const std::string& path) { mkfifo(path.c_str(), 0644); },
     "it is a FIFO, not a regular file"},
    {"Folder", [](const std::string&, const std::string& path) { fs::create_directory(path); },
     "it is a folder, not a regular file"},
};

class IniNotAFileTest : public ::testing::TestWithParam<TNotAFileRow> {};

TEST_P(IniNotAFileTest, WriteIsRefusedAndNothingChanges) {
  const std::string folder = TestFolder();
  const std::string path = folder + "/settings.ini";
  GetParam().Make(folder, path);
  const auto before = fs::symlink_status(path).type();
  EXPECT_EQ(IniFileProblem(path), GetParam().Reason);
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadString("settings", "a", "default"), "default");  // and does not block
  try {
    ini.WriteString("settings", "a", "1");
    ADD_FAILURE() << "the write went through";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path + ": " + GetParam().Reason);
  }
  EXPECT_THROW(ReplaceIniFile(path, "[s]\n"), EIniFileException);
  EXPECT_EQ(fs::symlink_status(path).type(), before);
  EXPECT_FALSE(fs::exists(folder + "/nowhere.ini"));
  // No temporary file was left beside it.
  for (const auto& entry : fs::directory_iterator(folder))
    EXPECT_TRUE(entry.path().filename() == "settings.ini" || entry.path().filename() == "dir")
        << entry.path();
  EXPECT_EQ(ReadFile("/dev/null"), "");
}

INSTANTIATE_TEST_SUITE_P(Kinds, IniNotAFileTest, ::testing::ValuesIn(kNotAFile),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(IniFile, LinkChainToARegularFileIsFollowed) {
  const std::string folder = TestFolder();
  WriteText(folder + "/real.ini", "[s]\na=1\n");
  fs::create_symlink("real.ini", folder + "/middle.ini");
  fs::create_symlink("middle.ini", folder + "/link.ini");
  EXPECT_EQ(IniFileProblem(folder + "/link.ini"), "");
  TIniFile(folder + "/link.ini").WriteString("s", "a", "2");
  EXPECT_TRUE(fs::is_symlink(folder + "/link.ini"));
  EXPECT_TRUE(fs::is_symlink(folder + "/middle.ini"));
  EXPECT_EQ(ReadFile(folder + "/real.ini"), "[s]\na=2\n");
}

TEST(IniMemory, ReadsLikeTheFile) {
  const TIniMemory ini("; comment\n[A]\nx = 1\n\n[b]\ny=2\nY=3\n\n");
  EXPECT_EQ(ini.Find("a", "X"), "1");
  EXPECT_EQ(ini.Find("B", "y"), "2");
  EXPECT_FALSE(ini.Find("b", "z").has_value());
  EXPECT_TRUE(ini.SectionExists("b"));
  EXPECT_FALSE(ini.SectionExists("c"));
  EXPECT_EQ(ini.SectionLines("a"), (std::vector<std::string>{"[A]", "x = 1"}));
}

TEST(IniFile, ConcurrentWritersLoseNothing) {
  const std::string path = TestFolder() + "/a.ini";
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      TIniFile ini(path);
      for (int i = 0; i < 20; ++i)
        ini.WriteInteger("s" + std::to_string(t), "k" + std::to_string(i), i);
    });
  for (auto& thread : threads) thread.join();
  const TIniFile ini(path);
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < 20; ++i)
      EXPECT_EQ(ini.ReadInteger("s" + std::to_string(t), "k" + std::to_string(i), -1), i);
}

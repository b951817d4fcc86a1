// A fresh settings folder and home folder per test, so no test touches the real home.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "app/core/format_catalogue.h"
#include "tests/support/test_support.h"

class ConfigEnvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder = TestFolder();
    ConfigDir = Folder + "/config";
    HomeDir = Folder + "/home";
    std::filesystem::create_directories(HomeDir);
    setenv("DVDSWF_CONFIG_DIR", ConfigDir.c_str(), 1);
    setenv("HOME", HomeDir.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
  }

 public:
  std::string SettingsPath() const { return ConfigDir + "/korveldvdtoswfconverter.ini"; }
  std::string CataloguePath() const { return ConfigDir + "/korvelswfformat.ini"; }

  std::string Folder, ConfigDir, HomeDir;
};

inline void WriteText(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

// Parameterised tests over the built-in formats name the format.
inline void PrintTo(const TBuiltInFormat& format, std::ostream* os) {
  *os << format.Name;
}

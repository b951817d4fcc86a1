#include "media/bitmap.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/test_support.h"

TEST(Bitmap, RowsArePaddedToFourBytes) {
  struct {
    int width, stride;
  } cases[] = {{1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}, {720, 2160}};
  for (auto c : cases) EXPECT_EQ(TBitmap::StrideFor(c.width), c.stride) << c.width;
  TBitmap bitmap(5, 3);
  EXPECT_EQ(bitmap.ScanLine(2) - bitmap.Bits(), 32);
}

TEST(Bitmap, SaveAndLoadKeepPixelsAndOrientation) {
  const std::string path = TestFolder() + "/pic.bmp";
  TBitmap bitmap(3, 2);
  bitmap.ScanLine(0)[0] = 10;   // top-left blue
  bitmap.ScanLine(1)[8] = 200;  // bottom-right red
  ASSERT_TRUE(bitmap.SaveToFile(path));
  EXPECT_EQ(ReadFile(path).size(), 54u + 2 * 12);
  TBitmap loaded;
  ASSERT_TRUE(loaded.LoadFromFile(path));
  EXPECT_EQ(loaded.Width(), 3);
  EXPECT_EQ(loaded.Height(), 2);
  EXPECT_EQ(loaded.ScanLine(0)[0], 10);
  EXPECT_EQ(loaded.ScanLine(1)[8], 200);
  EXPECT_EQ(loaded.ScanLine(1)[0], 0);
}

TEST(Bitmap, BadFilesAreRefusedAndLeaveThePictureAlone) {
  const std::string dir = TestFolder();
  TBitmap bitmap(2, 2);
  ASSERT_TRUE(bitmap.SaveToFile(dir + "/good.bmp"));
  std::string good = ReadFile(dir + "/good.bmp");
  const std::string truncated = good.substr(0, good.size() - 5);
  std::string hugeWidth = good;
  hugeWidth[18] = char(0xFF), hugeWidth[19] = char(0xFF), hugeWidth[20] = char(0xFF);
  for (const auto& [name, bytes] :
       {std::pair{"missing", std::string()}, std::pair{"truncated", truncated},
        std::pair{"hugewidth", hugeWidth},
        std::pair{
            "text",
            std::string(
                "not a picture at all........................................................")}}) {
    const std::string path = dir + "/" + name + ".bmp";
    if (!bytes.empty()) std::ofstream(path, std::ios::binary) << bytes;
    TBitmap target(1, 1);
    EXPECT_FALSE(target.LoadFromFile(path)) << name;
    EXPECT_EQ(target.Width(), 1) << name;
  }
}

TEST(Bitmap, WriteCountMovesOnlyWithWritableAccess) {
  TBitmap bitmap(8, 4);
  const TBitmap& reader = bitmap;
  const uint64_t start = bitmap.WriteCount();
  (void)reader.ScanLine(1);
  (void)reader.Bits();
  TBitmap copy(bitmap);
  EXPECT_EQ(bitmap.WriteCount(), start);
  struct {
    const char* what;
    void (*write)(TBitmap&);
  } writes[] = {
      {"ScanLine", [](TBitmap& b) { b.ScanLine(2)[0] = 1; }},
      {"Bits", [](TBitmap& b) { b.Bits()[0] = 1; }},
      {"SetSize", [](TBitmap& b) { b.SetSize(9, 4); }},
      {"assignment", [](TBitmap& b) { b = TBitmap(2, 2); }},
  };
  for (const auto& w : writes) {
    const uint64_t before = bitmap.WriteCount();
    w.write(bitmap);
    EXPECT_GT(bitmap.WriteCount(), before) << w.what;
  }
}

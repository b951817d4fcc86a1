#include "media/loader.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/version.h>
}

#include "media/file_names.h"
#include "media/io_scheme.h"

namespace {

const std::string kTinyDir = TINY_MODULE_DIR;
const std::string kTinyName = TINY_MODULE_NAME;
const std::string kTinyPath = kTinyDir + "/" + kTinyName;

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

class LoaderTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (int i = 0; i < kLibraryCount; ++i) loader.SetLibraryFileName(i, "");
    loader.SetLibraryPath("");
    ASSERT_TRUE(loader.LoadLibraries(PlayerLibraries)) << loader.LastError();
  }
  TLibraryLoader& loader = GlobalLoader();
};

}  // namespace

TEST_F(LoaderTest, SetValuesAreTheConverterAndPlayerSets) {
  EXPECT_EQ(ConverterLibraries, 125);
  EXPECT_EQ(PlayerLibraries, 253);
}

TEST_F(LoaderTest, FileNamesAreTheLinkedSharedObjectsUnlessOverridden) {
  EXPECT_EQ(loader.LibraryFileName(liAVCodec),
            "libavcodec.so." + std::to_string(LIBAVCODEC_VERSION_MAJOR));
  EXPECT_EQ(loader.LibraryFileName(liSDL), "libSDL2-2.0.so.0");
  loader.SetLibraryFileName(liAVCodec, "/opt/x/libavcodec.so");
  EXPECT_EQ(loader.LibraryFileName(liAVCodec), "/opt/x/libavcodec.so");
}

TEST_F(LoaderTest, PlayerSetAfterConverterSetAddsOnlySDL) {
  loader.UnloadLibraries(PlayerLibraries);
  EXPECT_FALSE(loader.LibrariesLoaded(ConverterLibraries));
  ASSERT_TRUE(loader.LoadLibraries(ConverterLibraries)) << loader.LastError();
  EXPECT_TRUE(loader.LibrariesLoaded(ConverterLibraries));
  EXPECT_FALSE(loader.LibrariesLoaded(PlayerLibraries));
  EXPECT_FALSE(loader.LibraryLoaded(liSDL));
  EXPECT_FALSE(loader.LibraryLoaded(liAVDevice));
  ASSERT_TRUE(loader.LoadLibraries(PlayerLibraries)) << loader.LastError();
  EXPECT_TRUE(loader.LibrariesLoaded(PlayerLibraries));
  EXPECT_FALSE(loader.LibraryLoaded(liAVDevice));
}

TEST_F(LoaderTest, LoadingRegistersTheUnicodeScheme) {
  ASSERT_TRUE(loader.LoadLibraries(ConverterLibraries));
  EXPECT_TRUE(InputSchemeRegistered("unicode"));
  RegisterUnicodeProtocol();  // again: harmless
  EXPECT_TRUE(InputSchemeRegistered("unicode"));
}

TEST_F(LoaderTest, LoadFromFolderAndResolveEntries) {
  std::string error;
  void* module = LoadLibraryFromFolder(kTinyDir, kTinyName, error);
  ASSERT_NE(module, nullptr) << error;
  auto answer = reinterpret_cast<int (*)()>(ResolveFunction(kTinyName, module, "tiny_answer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  auto* value = static_cast<int*>(ResolveVariable(kTinyName, module, "tiny_value"));
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(*value, 7);
  EXPECT_EQ(ResolveFunction(kTinyName, module, "absent", /*optional=*/true), nullptr);
  try {
    ResolveFunction(kTinyName, module, "absent");
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_TRUE(StartsWith(e.what(), "Load function absent@" + kTinyName + " error: ")) << e.what();
    EXPECT_NE(std::string(e.what()).find("absent"), std::string::npos);
  }
  try {
    ResolveVariable(kTinyName, module, "absent_value");
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_TRUE(StartsWith(e.what(), "Load variable absent_value@" + kTinyName + " error: "))
        << e.what();
  }
  FreeLibraryModule(module);
}

TEST_F(LoaderTest, MissingFileGivesTheSystemText) {
  std::string error;
  EXPECT_EQ(LoadLibraryFromFolder(kTinyDir, "libnothing.so", error), nullptr);
  EXPECT_NE(error.find("libnothing.so"), std::string::npos) << error;

  loader.UnloadLibraries(PlayerLibraries);
  loader.SetLibraryPath(kTinyDir);
  loader.SetLibraryFileName(liSWScale, "libnothing.so");
  EXPECT_FALSE(loader.LoadLibraries(ConverterLibraries));
  EXPECT_TRUE(StartsWith(loader.LastError(), "Load library " + kTinyDir + "/libnothing.so error: "))
      << loader.LastError();
  for (int i = 0; i < kLibraryCount; ++i) EXPECT_FALSE(loader.LibraryLoaded(i)) << i;
}

TEST_F(LoaderTest, MissingEntryFailsTheWholeSet) {
  ASSERT_TRUE(loader.LoadLibraries(ConverterLibraries));
  loader.UnloadLibraries(ConverterLibraries);
  loader.SetLibraryFileName(liAVFormat, kTinyPath);  // loads, but has none of avformat's entries
  EXPECT_FALSE(loader.LoadLibraries(ConverterLibraries));
  EXPECT_TRUE(
      StartsWith(loader.LastError(), "Load function avformat_version@" + kTinyPath + " error: "))
      << loader.LastError();
  for (int i = 0; i < kLibraryCount; ++i) {
    if (ConverterLibraries & (1u << i)) {
      EXPECT_FALSE(loader.LibraryLoaded(i)) << i;
    }
  }
}

TEST_F(LoaderTest, BareNameFromLibraryPathFolder) {
  loader.SetLibraryPath(kTinyDir);
  std::string error;
  void* module = LoadLibraryFromFolder(loader.LibraryPath(), kTinyName, error);
  ASSERT_NE(module, nullptr) << error;
  FreeLibraryModule(module);
  // With no folder the system's search finds the linked libraries by name.
  loader.SetLibraryPath("");
  loader.UnloadLibraries(ConverterLibraries);
  EXPECT_TRUE(loader.LoadLibraries(ConverterLibraries)) << loader.LastError();
}

TEST(CodecLock, IsRecursiveAndShared) {
  std::lock_guard outer(CodecLock());
  std::lock_guard inner(CodecLock());
  EXPECT_EQ(&CodecLock(), &CodecLock());
}

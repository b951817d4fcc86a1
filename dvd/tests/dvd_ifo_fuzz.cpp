// libFuzzer target: a copy of fixture disc A whose IFO tables are replaced by the input,
// scanned the way DVDEnumTitle and DVDGetTitle scan a disc, then planned for streaming.
//
// Input: byte 0 picks the table (0 VIDEO_TS.IFO, 1..3 VTS_0n_0.IFO), the rest is the file
// written both as the .IFO and its .BUP backup. Corpus folders named on the command line
// that are empty get the fixture's own tables as seeds.
//
//   bin/dvd_ifo_fuzz -max_total_time=60 corpus/
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dvd/plugin/dvd_disc.h"

namespace fs = std::filesystem;

namespace {

const char* const kTables[] = {"VIDEO_TS", "VTS_01_0", "VTS_02_0", "VTS_03_0"};
fs::path gVideoTs;
std::vector<std::string> gOriginal;  // the fixture's bytes of each table

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Put(const fs::path& path, const void* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), std::streamsize(size));
}

void PutTable(int table, const void* data, size_t size) {
  Put(gVideoTs / (std::string(kTables[table]) + ".IFO"), data, size);
  Put(gVideoTs / (std::string(kTables[table]) + ".BUP"), data, size);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  const fs::path source = fs::path(DVDSWF_FIXTURES_DIR) / "disc_a" / "VIDEO_TS";
  const fs::path root = fs::temp_directory_path() / ("dvd_ifo_fuzz." + std::to_string(getpid()));
  gVideoTs = root / "disc" / "VIDEO_TS";
  fs::create_directories(gVideoTs);
  for (const auto& entry : fs::directory_iterator(source)) {
    const fs::path target = gVideoTs / entry.path().filename();
    if (entry.path().extension() == ".VOB")
      fs::create_symlink(entry.path(), target);  // read only, never rewritten
    else
      fs::copy_file(entry.path(), target, fs::copy_options::overwrite_existing);
  }
  for (const char* table : kTables)
    gOriginal.push_back(Slurp(source / (std::string(table) + ".IFO")));

  for (int i = 1; i < *argc; ++i) {
    const fs::path corpus = (*argv)[i];
    std::error_code ec;
    if ((*argv)[i][0] == '-' || !fs::is_directory(corpus, ec) || !fs::is_empty(corpus, ec))
      continue;
    for (size_t t = 0; t < gOriginal.size(); ++t) {
      std::string seed(1, char(t));
      seed += gOriginal[t];
      Put(corpus / ("seed_" + std::string(kTables[t])), seed.data(), seed.size());
    }
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int table = data[0] % 4;
  PutTable(table, data + 1, size - 1);

  std::string error;
  auto disc = dvddec::TDvdDisc::Open(gVideoTs.parent_path().string(), error);
  if (disc) {
    const int titles = std::min(disc->TitleCount(), 200);
    for (int t = 0; t < titles; ++t) {
      TDVDTitleInfo info;
      if (disc->GetTitle(t, info, error)) {
        dvddec::TTitlePlan plan;
        disc->PlanTitle(TDVDParam{t, 0, 99, info.AudioCount ? info.Audio[0].StreamId : 0,
                                  info.SubtitleCount ? info.Subtitle[0].StreamId : 0, 2, 0},
                        plan, error);
      }
    }
  }
  disc.reset();
  PutTable(table, gOriginal[table].data(), gOriginal[table].size());
  return 0;
}

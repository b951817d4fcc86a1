#include "tests/support/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

std::string TestFolder() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  fs::path dir =
      fs::path(DVDSWF_TEST_TMP) / (std::string(info->test_suite_name()) + "." + info->name());
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir.string();
}

std::string CutDiscCopy(const std::string& disc, bool iso, double keep, const std::string& folder) {
  const fs::path source = fs::path(FixturesDir()) / (iso ? disc + ".iso" : disc);
  const fs::path copy = fs::path(folder) / source.filename();
  fs::remove_all(copy);
  fs::copy(source, copy, fs::copy_options::recursive);
  const fs::path cut = iso ? copy : copy / "VIDEO_TS" / "VTS_01_1.VOB";
  const auto sectors = uintmax_t(double(fs::file_size(cut) / 2048) * keep);
  fs::resize_file(cut, sectors * 2048);
  return copy.string();
}

static void Put(std::ofstream& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.put(char(value >> (8 * i)));
}

void WriteToneWav(const std::string& path, double seconds, int rate, double hz) {
  const uint32_t samples = uint32_t(seconds * rate);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write("RIFF", 4);
  Put(out, 36 + samples * 2, 4);
  out.write("WAVEfmt ", 8);
  Put(out, 16, 4);
  Put(out, 1, 2);
  Put(out, 1, 2);
  Put(out, uint32_t(rate), 4);
  Put(out, uint32_t(rate) * 2, 4);
  Put(out, 2, 2);
  Put(out, 16, 2);
  out.write("data", 4);
  Put(out, samples * 2, 4);
  for (uint32_t i = 0; i < samples; ++i)
    Put(out, uint32_t(int16_t(8000 * std::sin(2 * M_PI * hz * i / rate))) & 0xFFFF, 2);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string FixturesDir() {
  return DVDSWF_FIXTURES_DIR;
}

std::string RunCommand(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    if (status) *status = -1;
    return output;
  }
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  const int rc = pclose(pipe);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return output;
}

const std::string& ManifestRecord::Get(const std::string& key) const {
  auto it = fields.find(key);
  if (it == fields.end()) throw std::out_of_range("manifest " + kind + " has no " + key);
  return it->second;
}

double ManifestRecord::Number(const std::string& key) const {
  return std::stod(Get(key));
}

int ManifestRecord::Int(const std::string& key) const {
  return std::stoi(Get(key), nullptr, 0);
}

std::vector<ManifestRecord> ReadManifest(const std::string& disc) {
  std::vector<ManifestRecord> records;
  std::ifstream in(FixturesDir() + "/disc_" + disc + ".manifest");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    ManifestRecord record;
    words >> record.kind;
    std::string word;
    while (words >> word) {
      const size_t eq = word.find('=');
      if (eq != std::string::npos) record.fields[word.substr(0, eq)] = word.substr(eq + 1);
    }
    records.push_back(std::move(record));
  }
  return records;
}

std::vector<ManifestRecord> ManifestRecords(const std::vector<ManifestRecord>& all,
                                            const std::string& kind, int title) {
  std::vector<ManifestRecord> out;
  for (const auto& r : all)
    if (r.kind == kind && (title == 0 || (r.fields.count("title") && r.Int("title") == title)))
      out.push_back(r);
  return out;
}

std::string SharedMediaFile(const std::string& name, const std::string& ffmpegArgs) {
  const fs::path dir = fs::path(DVDSWF_TEST_TMP) / "shared-media";
  const fs::path target = dir / name;
  if (fs::exists(target)) return target.string();
  fs::create_directories(dir);
  const std::string aside = (dir / (std::to_string(getpid()) + ".part." + name)).string();
  std::string args = ffmpegArgs;
  const size_t at = args.find("{out}");
  if (at != std::string::npos) args.replace(at, 5, "'" + aside + "'");
  int status = 0;
  const std::string output =
      RunCommand("ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " 2>&1", &status);
  if (status != 0) {
    ADD_FAILURE() << "ffmpeg failed making " << name << ": " << output;
    return target.string();
  }
  std::error_code ec;
  fs::rename(aside, target, ec);
  if (ec) ADD_FAILURE() << "cannot move " << aside << " into place: " << ec.message();
  return target.string();
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

double DecodedDuration(const std::string& file) {
  const std::string report = RunCommand("ffmpeg -nostdin -i " + ShellQuote(file) +
                                        " -f null - 2>&1 | tr '\\r' '\\n' | "
                                        "grep -o 'time=[0-9:.]*' | tail -n 1");
  int h = 0, m = 0;
  double s = 0;
  if (std::sscanf(report.c_str(), "time=%d:%d:%lf", &h, &m, &s) != 3) return -1;
  return h * 3600 + m * 60 + s;
}

double ToneFrequency(const std::string& file, double from) {
  const std::string pcm =
      RunCommand("ffmpeg -nostdin -v error -ss " + std::to_string(from) + " -i " +
                 ShellQuote(file) + " -t 2 -vn -ac 1 -ar 48000 -f s16le -");
  const size_t samples = pcm.size() / 2;
  if (samples < 4800) return -1;
  int crossings = 0;
  int16_t previous = 0;
  for (size_t i = 0; i < samples; ++i) {
    int16_t value;
    std::memcpy(&value, pcm.data() + 2 * i, 2);
    if (i > 0 && ((previous < 0) != (value < 0))) ++crossings;
    previous = value;
  }
  return crossings / 2.0 / (double(samples) / 48000);
}

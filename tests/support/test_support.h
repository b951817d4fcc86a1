// Helpers for the test suites: scratch folders and small real files made on the spot.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// A fresh, empty folder under the build tree's test-tmp/ named after the calling test.
std::string TestFolder();
// The build tree's fixture folder (disc_a/, disc_a.iso, disc_b/, ...).
std::string FixturesDir();
// Writes a mono 16-bit PCM WAV file of `seconds` at `rate` Hz holding a tone.
void WriteToneWav(const std::string& path, double seconds, int rate = 8000, double hz = 440);
std::string ReadFile(const std::string& path);
// A media file shared by every test of the build tree, made once with Debian's ffmpeg:
// `ffmpegArgs` holds "{out}" where the output name goes (the file's extension picks the
// container). Test processes run several at once, so the file is written aside and renamed
// into place: a reader never sees a half-written file. Returns the path; fails the calling
// test (ADD_FAILURE) and returns it anyway when ffmpeg fails.
std::string SharedMediaFile(const std::string& name, const std::string& ffmpegArgs);
// Runs a shell command; returns its standard output. `status` receives the exit status.
std::string RunCommand(const std::string& command, int* status = nullptr);
// `text` quoted for a shell command line.
std::string ShellQuote(const std::string& text);
// How long a media file plays, decoded by ffmpeg (containers such as SWF carry no duration);
// -1 when it cannot be read.
double DecodedDuration(const std::string& file);
// The dominant tone of a media file's first audio stream (zero crossings of up to 2 s of
// mono from `from` seconds), -1 when it has no audio.
double ToneFrequency(const std::string& file, double from = 0.5);

// A copy of fixture disc `disc` ("disc_g") in `folder`, cut off the way a disc whose reads
// fail from some point on leaves it: the ISO image (iso) or, in the folder form, the first
// title VOB (VTS_01_1.VOB) keeps only its first `keep` share, in whole sectors. Returns the
// copy's path (the .iso or the folder holding VIDEO_TS).
std::string CutDiscCopy(const std::string& disc, bool iso, double keep, const std::string& folder);

// One line of a fixture disc's manifest (tests/fixtures/make_disc.sh): a record kind
// ("disc", "title", "audio", "subtitle", "spu") and its key=value fields.
struct ManifestRecord {
  std::string kind;
  std::map<std::string, std::string> fields;
  const std::string& Get(const std::string& key) const;  // throws when absent
  double Number(const std::string& key) const;
  int Int(const std::string& key) const;
};
// The records of disc "a" or "b", in file order. Empty when the disc was not authored.
std::vector<ManifestRecord> ReadManifest(const std::string& disc);
// The records of one kind, optionally of one title.
std::vector<ManifestRecord> ManifestRecords(const std::vector<ManifestRecord>& all,
                                            const std::string& kind, int title = 0);

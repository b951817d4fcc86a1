// Helpers of the DVD tests: the fixture discs, what lsdvd says about them, and decoding an
// input (a VOB file or "opendvd:" + disc) with the real FFmpeg libraries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// FixturesDir() + "/disc_a" or "/disc_a.iso".
std::string DiscPath(const std::string& disc, bool iso);
// Loads the plug-in built into this tree's bin/LibAV; fails the calling test when it cannot.
void LoadPlugInForTests();

struct TLsdvdTrack {
  int Id = 0;
  std::string Code;  // "en"
};
struct TLsdvdTitle {
  double Length = 0;
  int Chapters = 0;
  std::vector<double> ChapterLengths;
  std::vector<TLsdvdTrack> Audio;
  std::vector<TLsdvdTrack> Subtitles;
};
// Runs `lsdvd -x` on the path and reads its report.
std::vector<TLsdvdTitle> RunLsdvd(const std::string& path);

// What decoding an input yields.
struct TDecodedInput {
  int OpenError = 0;                       // the negative code of a failed open
  std::vector<int> AudioIds, SubtitleIds;  // AVStream::id of each stream
  int VideoFrames = 0;
  double VideoSeconds = 0;  // from the first picture's start to the last one's end
  double ToneHz = 0;        // of the first audio stream's first channel
  int Width = 0, Height = 0;
  std::vector<std::vector<uint8_t>> Luma;  // the luma planes of the requested pictures
};
// Decodes the whole input; keeps the luma planes of pictures firstPicture..lastPicture
// (0-based, in display order).
TDecodedInput DecodeInput(const std::string& url, int firstPicture = 0, int lastPicture = 0);

// Mean absolute difference of two luma planes of equal size.
double LumaDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

// Authors a disc of `titles` tiny titles (one title set) into `folder`/VIDEO_TS with
// dvd/tests/make_many_titles.sh; returns the folder.
std::string AuthorManyTitles(const std::string& folder, int titles);

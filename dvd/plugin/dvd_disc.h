// The inside of libdvddec.so: a disc read with libdvdread (title table, title sets'
// program chains and attributes) and a title's chapter range delivered as one MPEG
// program stream. Nothing here is exported from the plug-in; dvd_plugin.cpp wraps it in
// the C entry points, and the fuzz target drives TDvdDisc directly.
//
// Threads: a TDvdDisc or TDvdTitleStream belongs to one thread at a time; separate
// objects (each with its own libdvdread handle) may be used on different threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dvd/dvd_records.h"

#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_types.h>

namespace dvddec {

struct TReaderCloser {
  void operator()(dvd_reader_s* reader) const;
};
struct TIfoCloser {
  void operator()(ifo_handle_t* ifo) const;
};
struct TFileCloser {
  void operator()(dvd_file_s* file) const;
};
using TReaderPtr = std::unique_ptr<dvd_reader_s, TReaderCloser>;
using TIfoPtr = std::unique_ptr<ifo_handle_t, TIfoCloser>;
using TFilePtr = std::unique_ptr<dvd_file_s, TFileCloser>;

// A run of sectors of a title set's title VOBs (sector numbers relative to VTS_xx_1.VOB).
struct TExtent {
  uint32_t FirstSector = 0;
  uint32_t SectorCount = 0;
};

// What a title's chapter range is made of, resolved against the title's attributes.
struct TTitlePlan {
  int TitleSet = 0;
  std::vector<TExtent> Extents;  // in playback order; angle 1 of multi-angle blocks
  int AudioKeep = -1;            // stream number left in the stream (0x80.., 0xC0..), -1 none
  int SubtitleKeep = -1;         // 0x20+n left in the stream, -1 none
  double Seconds = 0;            // the cells' playback time
};

class TDvdDisc {
 public:
  // Opens a device, an ISO image, a folder holding VIDEO_TS or the VIDEO_TS folder itself
  // and reads the title table. Null with `error` in plain words when that fails.
  // `checkEncryption` reads the first sectors of the first title to tell a CSS disc that
  // cannot be decrypted from a readable one.
  static std::unique_ptr<TDvdDisc> Open(const std::string& path, std::string& error,
                                        bool checkEncryption = true);
  ~TDvdDisc();

  int TitleCount() const;
  // Fills `info` (zeroed first) for a 0-based title. False when the title's tables are
  // missing or inconsistent; `error` then says why.
  bool GetTitle(int title, TDVDTitleInfo& info, std::string& error);
  // The sectors and kept streams for `param`; false with `error` in plain words.
  bool PlanTitle(const TDVDParam& param, TTitlePlan& plan, std::string& error);
  // Empty when the sectors read are plain (or decrypted); otherwise why they cannot be read.
  std::string CheckScrambled(int titleSet, uint32_t firstSector, uint32_t count);

  dvd_reader_s* Reader() const { return FReader.get(); }
  const std::string& Path() const { return FPath; }

 private:
  TDvdDisc() = default;
  struct TTitleSet;
  // The title set's VTSI with its part-of-title and program chain tables, read once; null
  // when they cannot be read.
  TTitleSet* TitleSet(int number);
  bool ResolveTitle(int title, TTitleSet*& set, int& ttn, std::string& error);

  std::string FPath;
  std::string FReaderError;  // libdvdread's last error message; outlives FReader
  TReaderPtr FReader;
  TIfoPtr FVmg;
  std::vector<std::unique_ptr<TTitleSet>> FTitleSets;  // index = title set number
  std::vector<bool> FTitleSetTried;
};

// Filters a 2048-byte pack in place: PES packets of audio and sub-picture streams other
// than the kept ones become padding packets of the same length, so sizes and positions
// stay as they are.
void FilterPack(uint8_t* pack, int audioKeep, int subtitleKeep);

// The chosen title's chapter range as one program stream.
class TDvdTitleStream {
 public:
  static std::unique_ptr<TDvdTitleStream> Open(const std::string& path, const TDVDParam& param,
                                               std::string& error);
  ~TDvdTitleStream();
  // Bytes read (> 0), or 0 at the end. Damaged sectors do not end the stream (see below).
  int Read(uint8_t* buffer, int size);
  // SEEK_SET/SEEK_CUR/SEEK_END; the new position or -EINVAL.
  int64_t Seek(int64_t offset, int whence);
  int64_t Size() const { return FSize; }

  // Damage met so far: sectors that could not be read, and sectors read that held no MPEG
  // pack (garbage). Each is delivered as a padding pack, so the stream keeps its size and
  // the demuxer resumes with the next good pack; each sector counts once however often it
  // is read.
  int64_t UnreadableSectors() const { return FUnreadable; }
  int64_t GarbledSectors() const { return FGarbled; }
  int64_t SectorCount() const { return FSize / 2048; }

 private:
  TDvdTitleStream() = default;
  void ReadSectors(uint64_t sector, uint32_t count, uint8_t* buffer);
  // Reads one extent's sectors; a failed run is read again sector by sector.
  void ReadRun(uint64_t streamSector, uint32_t fileSector, uint32_t count, uint8_t* buffer);
  void MarkDamaged(uint64_t streamSector, int64_t& counter);

  std::unique_ptr<TDvdDisc> FDisc;
  TFilePtr FFile;
  TTitlePlan FPlan;
  std::vector<uint64_t> FExtentStart;  // first stream sector of each extent
  int64_t FSize = 0;
  int64_t FPosition = 0;
  std::vector<uint8_t> FSector;  // the last partly read sector
  int64_t FSectorNumber = -1;
  std::vector<bool> FDamaged;  // per stream sector: counted already
  int64_t FUnreadable = 0;
  int64_t FGarbled = 0;
};

// Fills `sector` with an MPEG-2 pack holding only padding.
void MakePaddingPack(uint8_t* sector);
// The sector starts with an MPEG pack header.
bool IsPack(const uint8_t* sector);

// "English" for "en"; the code itself when unknown, "Unknown" without a code.
std::string LanguageName(uint16_t code);

}  // namespace dvddec

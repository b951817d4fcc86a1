#include "dvd/plugin/dvd_disc.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <dvdread/ifo_read.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace dvddec {

namespace fs = std::filesystem;

constexpr int kSectorSize = DVD_VIDEO_LB_LEN;

void TReaderCloser::operator()(dvd_reader_s* reader) const {
  DVDClose(reader);
}
void TIfoCloser::operator()(ifo_handle_t* ifo) const {
  ifoClose(ifo);
}
void TFileCloser::operator()(dvd_file_s* file) const {
  DVDCloseFile(file);
}

struct TDvdDisc::TTitleSet {
  TIfoPtr Ifo;
  int64_t VobSectors = -1;  // size of the title VOBs in sectors, -1 when unknown
};

namespace {

// libdvdread's messages: errors are kept (the last one explains a failed open), the rest
// is dropped so that the library never writes to the program's terminal.
void ReaderLog(void* priv, dvd_logger_level_t level, const char* format, va_list args) {
  if (!priv || level != DVD_LOGGER_LEVEL_ERROR) return;
  char text[512];
  vsnprintf(text, sizeof text, format, args);
  *static_cast<std::string*>(priv) = text;
}

const dvd_logger_cb kReaderLogger = {ReaderLog};

bool IsDirectory(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

bool HasFile(const fs::path& folder, const char* upper, const char* lower) {
  std::error_code ec;
  return fs::exists(folder / upper, ec) || fs::exists(folder / lower, ec);
}

// The path libdvdread should open: the disc's root for folders, the path itself for
// images and devices. Empty with `error` set when the path cannot hold a disc.
std::string DiscRoot(const std::string& path, std::string& error) {
  if (path.empty()) {
    error = "No disc path was given.";
    return {};
  }
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    error = "\"" + path + "\" does not exist.";
    return {};
  }
  if (S_ISDIR(st.st_mode)) {
    fs::path folder(path);
    while (folder.has_relative_path() && folder.filename().empty())
      folder = folder.parent_path();  // trailing slashes
    if (HasFile(folder, "VIDEO_TS.IFO", "video_ts.ifo") ||
        HasFile(folder, "VIDEO_TS.BUP", "video_ts.bup")) {
      // The VIDEO_TS folder itself: libdvdread wants the folder above it.
      fs::path parent = folder.parent_path();
      return parent.empty() ? std::string(".") : parent.string();
    }
    if (IsDirectory(folder / "VIDEO_TS") || IsDirectory(folder / "video_ts"))
      return folder.string();
    error = "The folder \"" + path + "\" holds no VIDEO_TS folder.";
    return {};
  }
  if (S_ISREG(st.st_mode)) {
    if (st.st_size < 32 * kSectorSize) {
      error = "\"" + path + "\" is too small to be a DVD image.";
      return {};
    }
    return path;
  }
  if (S_ISBLK(st.st_mode)) return path;
  error = "\"" + path + "\" is neither a disc drive, a DVD image nor a folder.";
  return {};
}

double PlaybackSeconds(const dvd_time_t& time) {
  auto bcd = [](uint8_t value) { return (value >> 4) * 10 + (value & 0x0F); };
  // The two high bits of the frame byte give the rate: 1 = 25 fps, 3 = 30 fps (nominal).
  const int rateCode = (time.frame_u & 0xC0) >> 6;
  const double fps = rateCode == 1 ? 25.0 : rateCode == 3 ? 30.0 : 0.0;
  double seconds = bcd(time.hour) * 3600.0 + bcd(time.minute) * 60.0 + bcd(time.second);
  if (fps > 0) seconds += bcd(time.frame_u & 0x3F) / fps;
  return seconds;
}

// The stream number of audio entry `index` as the program stream carries it.
int AudioStreamId(const audio_attr_t& attr, const pgc_t* pgc, int index) {
  static const int kBase[8] = {0x80, 0, 0xC0, 0xC0, 0xA0, 0, 0x88, 0};
  const int base = kBase[attr.audio_format & 7];
  if (base == 0) return 0;
  int number = index;
  if (pgc && (pgc->audio_control[index] & 0x8000)) number = (pgc->audio_control[index] >> 8) & 7;
  return base + number;
}

int SubtitleStreamId(const video_attr_t& video, const pgc_t* pgc, int index) {
  int number = index;
  if (pgc && (pgc->subp_control[index] & 0x80000000u)) {
    // The 4:3 stream for 4:3 titles, the wide one for 16:9 titles.
    const int shift = video.display_aspect_ratio == 0 ? 24 : 16;
    number = (pgc->subp_control[index] >> shift) & 0x1F;
  }
  return 0x20 + number;
}

std::string LanguageOf(uint8_t langType, uint16_t code) {
  return LanguageName(langType == 1 ? code : 0);
}

void CopyText(char* target, size_t size, const std::string& text) {
  const size_t n = std::min(size - 1, text.size());
  memcpy(target, text.data(), n);
  target[n] = '\0';
}

// Reads one table of an IFO. libdvdread 6.1 frees a table it failed to read without
// always clearing the handle's pointer to it, and ifoClose would then free it again; a
// failed table is therefore forgotten here (at worst a few bytes stay allocated).
template <typename T>
bool ReadTable(ifo_handle_t* ifo, int (*read)(ifo_handle_t*), T*& table) {
  if (read(ifo) && table) return true;
  table = nullptr;
  return false;
}

// libdvdread allocates a table by the length its header claims before reading it, so a
// damaged header can ask for gigabytes. A table must end inside its IFO file (or, when the
// IFO cannot be read, inside the backup).
bool TableFits(dvd_reader_t* reader, int titleSet, uint32_t sector) {
  for (const dvd_read_domain_t domain : {DVD_READ_INFO_FILE, DVD_READ_INFO_BACKUP_FILE}) {
    TFilePtr file(DVDOpenFile(reader, titleSet, domain));
    if (!file) continue;
    const int64_t fileBytes = int64_t(DVDFileSize(file.get())) * kSectorSize;
    uint8_t header[8];
    if (fileBytes <= 0 || int64_t(sector) * kSectorSize + 8 > fileBytes ||
        DVDFileSeek(file.get(), int32_t(sector * kSectorSize)) < 0 ||
        DVDReadBytes(file.get(), header, sizeof header) != ssize_t(sizeof header))
      return false;
    const uint32_t lastByte = uint32_t(header[4]) << 24 | uint32_t(header[5]) << 16 |
                              uint32_t(header[6]) << 8 | header[7];
    // The length counts the 8-byte header; a shorter one makes libdvdread's size wrap.
    return lastByte >= 8 && int64_t(sector) * kSectorSize + int64_t(lastByte) < fileBytes;
  }
  return false;
}

bool CssLibraryPresent() {
  void* module = dlopen("libdvdcss.so.2", RTLD_LAZY | RTLD_LOCAL);
  if (!module) return false;
  dlclose(module);
  return true;
}

}  // namespace

std::unique_ptr<TDvdDisc> TDvdDisc::Open(const std::string& path, std::string& error,
                                         bool checkEncryption) {
  const std::string root = DiscRoot(path, error);
  if (root.empty()) return nullptr;

  std::unique_ptr<TDvdDisc> disc(new TDvdDisc);
  disc->FPath = path;
  disc->FReader.reset(DVDOpen2(&disc->FReaderError, &kReaderLogger, root.c_str()));
  if (!disc->FReader) {
    struct stat st {};
    if (stat(root.c_str(), &st) == 0 && S_ISBLK(st.st_mode))
      error = "There is no readable disc in the drive " + path + ".";
    else
      error = "\"" + path + "\" cannot be opened as a DVD.";
    return nullptr;
  }
  disc->FVmg.reset(ifoOpenVMGI(disc->FReader.get()));
  if (!disc->FVmg || !disc->FVmg->vmgi_mat ||
      !TableFits(disc->FReader.get(), 0, disc->FVmg->vmgi_mat->tt_srpt) ||
      !ReadTable(disc->FVmg.get(), ifoRead_TT_SRPT, disc->FVmg->tt_srpt) ||
      !disc->FVmg->tt_srpt->title) {
    error = "\"" + path +
            "\" is not a readable DVD-Video disc: its title table (VIDEO_TS.IFO) is missing "
            "or damaged.";
    return nullptr;
  }
  const int setCount = disc->FVmg->vmgi_mat ? disc->FVmg->vmgi_mat->vmg_nr_of_title_sets : 0;
  disc->FTitleSets.resize(size_t(std::max(setCount, 0)) + 1);
  disc->FTitleSetTried.assign(disc->FTitleSets.size(), false);

  if (checkEncryption && disc->TitleCount() > 0) {
    TDVDParam first{0, 1, 1, 0, 0, 2, 0};
    TTitlePlan plan;
    std::string ignored;
    if (disc->PlanTitle(first, plan, ignored) && !plan.Extents.empty()) {
      error = disc->CheckScrambled(plan.TitleSet, plan.Extents[0].FirstSector,
                                   plan.Extents[0].SectorCount);
      if (!error.empty()) return nullptr;
    }
  }
  return disc;
}

TDvdDisc::~TDvdDisc() = default;

int TDvdDisc::TitleCount() const {
  return FVmg->tt_srpt->nr_of_srpts;
}

TDvdDisc::TTitleSet* TDvdDisc::TitleSet(int number) {
  if (number < 1 || size_t(number) >= FTitleSets.size()) return nullptr;
  if (!FTitleSetTried[number]) {
    FTitleSetTried[number] = true;
    TIfoPtr ifo(ifoOpenVTSI(FReader.get(), number));
    if (ifo && ifo->vtsi_mat && TableFits(FReader.get(), number, ifo->vtsi_mat->vts_ptt_srpt) &&
        TableFits(FReader.get(), number, ifo->vtsi_mat->vts_pgcit) &&
        ReadTable(ifo.get(), ifoRead_VTS_PTT_SRPT, ifo->vts_ptt_srpt) &&
        ReadTable(ifo.get(), ifoRead_PGCIT, ifo->vts_pgcit)) {
      auto set = std::make_unique<TTitleSet>();
      set->Ifo = std::move(ifo);
      dvd_stat_t st{};
      if (DVDFileStat(FReader.get(), number, DVD_READ_TITLE_VOBS, &st) == 0)
        set->VobSectors = st.size / kSectorSize;
      FTitleSets[number] = std::move(set);
    }
  }
  return FTitleSets[number].get();
}

bool TDvdDisc::ResolveTitle(int title, TTitleSet*& set, int& ttn, std::string& error) {
  if (title < 0 || title >= TitleCount()) {
    error = "The disc has no title " + std::to_string(title + 1) + ".";
    return false;
  }
  const title_info_t& entry = FVmg->tt_srpt->title[title];
  set = TitleSet(entry.title_set_nr);
  if (!set) {
    error = "The tables of title set " + std::to_string(entry.title_set_nr) +
            " cannot be read (VTS_" + (entry.title_set_nr < 10 ? "0" : "") +
            std::to_string(entry.title_set_nr) + "_0.IFO is missing or damaged).";
    return false;
  }
  ttn = entry.vts_ttn;
  const vts_ptt_srpt_t* ptts = set->Ifo->vts_ptt_srpt;
  if (ttn < 1 || ttn > ptts->nr_of_srpts || !ptts->title || ptts->title[ttn - 1].nr_of_ptts < 1 ||
      !ptts->title[ttn - 1].ptt) {
    error = "Title " + std::to_string(title + 1) + " has no chapters.";
    return false;
  }
  return true;
}

namespace {

// The program chain of one chapter, or null when the tables do not hold it.
const pgc_t* ChapterChain(const ifo_handle_t* ifo, const ptt_info_t& ptt) {
  const pgcit_t* pgcit = ifo->vts_pgcit;
  if (ptt.pgcn < 1 || ptt.pgcn > pgcit->nr_of_pgci_srp || !pgcit->pgci_srp) return nullptr;
  const pgc_t* pgc = pgcit->pgci_srp[ptt.pgcn - 1].pgc;
  if (!pgc || !pgc->program_map || !pgc->cell_playback || pgc->nr_of_cells < 1) return nullptr;
  if (ptt.pgn < 1 || ptt.pgn > pgc->nr_of_programs) return nullptr;
  const int cell = pgc->program_map[ptt.pgn - 1];
  if (cell < 1 || cell > pgc->nr_of_cells) return nullptr;
  return pgc;
}

}  // namespace

bool TDvdDisc::GetTitle(int title, TDVDTitleInfo& info, std::string& error) {
  memset(&info, 0, sizeof info);
  TTitleSet* set = nullptr;
  int ttn = 0;
  if (!ResolveTitle(title, set, ttn, error)) return false;
  const ifo_handle_t* ifo = set->Ifo.get();
  const ttu_t& ttu = ifo->vts_ptt_srpt->title[ttn - 1];
  const pgc_t* pgc = ChapterChain(ifo, ttu.ptt[0]);
  if (!pgc) {
    error = "Title " + std::to_string(title + 1) + " points at a missing program chain.";
    return false;
  }
  // Every chapter must be deliverable, or the title is of no use to a conversion.
  TTitlePlan plan;
  if (!PlanTitle(TDVDParam{title, 1, ttu.nr_of_ptts, 0, 0, 2, 0}, plan, error)) return false;

  // An image cut short still has its tables; its titles' last sectors are what is missing.
  struct stat st {};
  if (stat(FPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !plan.Extents.empty()) {
    TFilePtr file(DVDOpenFile(FReader.get(), plan.TitleSet, DVD_READ_TITLE_VOBS));
    uint8_t sector[kSectorSize];
    const TExtent& last = plan.Extents.back();
    if (!file ||
        DVDReadBlocks(file.get(), int(last.FirstSector + last.SectorCount - 1), 1, sector) != 1) {
      error = "The video data of title " + std::to_string(title + 1) +
              " cannot be read: the image \"" + FPath + "\" is damaged or truncated.";
      return false;
    }
  }

  const vtsi_mat_t* mat = ifo->vtsi_mat;
  info.Duration = PlaybackSeconds(pgc->playback_time);
  const video_attr_t& video = mat->vts_video_attr;
  info.VideoFormat = video.mpeg_version == 0 ? dfMPEG1 : video.mpeg_version == 1 ? dfMPEG2 : 0;
  static const int kWidths[4] = {720, 704, 352, 352};
  info.Width = kWidths[video.picture_size & 3];
  info.Height = video.video_format == 1 ? 576 : 480;
  if ((video.picture_size & 3) == 3) info.Height /= 2;
  // 0 is 4:3, 3 is 16:9; the two other codes are reserved and say nothing.
  if (video.display_aspect_ratio == 0) {
    info.DisplayAspectX = 4;
    info.DisplayAspectY = 3;
  } else if (video.display_aspect_ratio == 3) {
    info.DisplayAspectX = 16;
    info.DisplayAspectY = 9;
  }

  const int audioCount = std::min<int>(mat->nr_of_vts_audio_streams, kDVDMaxAudio);
  for (int i = 0; i < audioCount; ++i) {
    const audio_attr_t& attr = mat->vts_audio_attr[i];
    TDVDAudioInfo& audio = info.Audio[info.AudioCount];
    audio.StreamId = AudioStreamId(attr, pgc, i);
    if (audio.StreamId == 0) continue;  // a coding the program stream cannot carry
    CopyText(audio.Language, sizeof audio.Language, LanguageOf(attr.lang_type, attr.lang_code));
    ++info.AudioCount;
  }
  const int subtitleCount = std::min<int>(mat->nr_of_vts_subp_streams, kDVDMaxSubtitles);
  for (int i = 0; i < subtitleCount; ++i) {
    const subp_attr_t& attr = mat->vts_subp_attr[i];
    TDVDSubtitleInfo& subtitle = info.Subtitle[info.SubtitleCount++];
    subtitle.StreamId = SubtitleStreamId(video, pgc, i);
    CopyText(subtitle.Language, sizeof subtitle.Language, LanguageOf(attr.type, attr.lang_code));
  }
  info.ChapterCount = ttu.nr_of_ptts;
  return true;
}

bool TDvdDisc::PlanTitle(const TDVDParam& param, TTitlePlan& plan, std::string& error) {
  plan = TTitlePlan{};
  TTitleSet* set = nullptr;
  int ttn = 0;
  if (!ResolveTitle(param.Title, set, ttn, error)) return false;
  const ifo_handle_t* ifo = set->Ifo.get();
  const ttu_t& ttu = ifo->vts_ptt_srpt->title[ttn - 1];
  const int chapters = ttu.nr_of_ptts;
  int from = param.ChapterFrom < 1 ? 1 : std::min(param.ChapterFrom, chapters);
  int to = param.ChapterTo < 1 || param.ChapterTo > chapters ? chapters : param.ChapterTo;
  if (to < from) to = from;
  plan.TitleSet = FVmg->tt_srpt->title[param.Title].title_set_nr;

  const std::string where = "Title " + std::to_string(param.Title + 1) + ", chapter ";
  for (int chapter = from; chapter <= to; ++chapter) {
    const ptt_info_t& ptt = ttu.ptt[chapter - 1];
    const pgc_t* pgc = ChapterChain(ifo, ptt);
    if (!pgc) {
      error = where + std::to_string(chapter) + " points at a missing program chain.";
      return false;
    }
    const int firstCell = pgc->program_map[ptt.pgn - 1];
    int lastCell = pgc->nr_of_cells;
    if (chapter < chapters) {
      const ptt_info_t& next = ttu.ptt[chapter];
      if (next.pgcn == ptt.pgcn && next.pgn > ptt.pgn && next.pgn <= pgc->nr_of_programs)
        lastCell = std::min<int>(lastCell, pgc->program_map[next.pgn - 1] - 1);
    }
    for (int cell = firstCell; cell <= lastCell; ++cell) {
      const cell_playback_t& playback = pgc->cell_playback[cell - 1];
      // Angle blocks: the first cell of a block is angle 1; the others are skipped.
      if (playback.block_type == 1 && playback.block_mode != 1) continue;
      if (playback.last_sector < playback.first_sector ||
          (set->VobSectors >= 0 && playback.last_sector >= uint64_t(set->VobSectors))) {
        error = where + std::to_string(chapter) + " lies outside the title's video files.";
        return false;
      }
      const uint32_t count = playback.last_sector - playback.first_sector + 1;
      plan.Seconds += PlaybackSeconds(playback.playback_time);
      if (!plan.Extents.empty() &&
          plan.Extents.back().FirstSector + plan.Extents.back().SectorCount ==
              playback.first_sector)
        plan.Extents.back().SectorCount += count;
      else
        plan.Extents.push_back({playback.first_sector, count});
    }
  }
  if (plan.Extents.empty()) {
    error = where + std::to_string(from) + " holds no video.";
    return false;
  }

  // Streams kept: the chosen ones when the title has them, else its first audio track.
  const vtsi_mat_t* mat = ifo->vtsi_mat;
  const pgc_t* pgc = ChapterChain(ifo, ttu.ptt[0]);
  const int audioCount = std::min<int>(mat->nr_of_vts_audio_streams, kDVDMaxAudio);
  for (int i = 0; i < audioCount; ++i) {
    const int id = AudioStreamId(mat->vts_audio_attr[i], pgc, i);
    if (id == 0) continue;
    if (plan.AudioKeep < 0) plan.AudioKeep = id;
    if (id == param.AudioId) {
      plan.AudioKeep = id;
      break;
    }
  }
  if (param.SubtitleId > 0) {
    const int subtitleCount = std::min<int>(mat->nr_of_vts_subp_streams, kDVDMaxSubtitles);
    for (int i = 0; i < subtitleCount; ++i) {
      const int id = SubtitleStreamId(mat->vts_video_attr, pgc, i);
      if (plan.SubtitleKeep < 0) plan.SubtitleKeep = id;
      if (id == param.SubtitleId) {
        plan.SubtitleKeep = id;
        break;
      }
    }
  }
  return true;
}

std::string TDvdDisc::CheckScrambled(int titleSet, uint32_t firstSector, uint32_t count) {
  TFilePtr file(DVDOpenFile(FReader.get(), titleSet, DVD_READ_TITLE_VOBS));
  if (!file) return {};  // a missing file is reported when it is read
  count = std::min<uint32_t>(count, 16);
  std::vector<uint8_t> sectors(size_t(count) * kSectorSize);
  const ssize_t got = DVDReadBlocks(file.get(), int(firstSector), count, sectors.data());
  for (ssize_t i = 0; i < got; ++i) {
    const uint8_t* p = sectors.data() + i * kSectorSize;
    if (p[0] || p[1] || p[2] != 1 || p[3] != 0xBA || (p[4] & 0xC0) != 0x40) continue;
    const uint8_t* pes = p + 14 + (p[13] & 7);
    if (pes[0] || pes[1] || pes[2] != 1) continue;
    const int id = pes[3];
    const bool elementary = id == 0xBD || (id >= 0xC0 && id <= 0xEF);
    if (elementary && (pes[6] & 0xC0) == 0x80 && (pes[6] & 0x30) != 0) {
      return CssLibraryPresent()
                 ? "This disc is encrypted (CSS) and libdvdcss could not decrypt it."
                 : "This disc is encrypted (CSS) and libdvdcss is not installed, so it cannot "
                   "be read.";
    }
  }
  return {};
}

void FilterPack(uint8_t* p, int audioKeep, int subtitleKeep) {
  if (p[0] || p[1] || p[2] != 1 || p[3] != 0xBA) return;
  int pos;
  if ((p[4] & 0xC0) == 0x40)
    pos = 14 + (p[13] & 7);
  else if ((p[4] & 0xF0) == 0x20)
    pos = 12;
  else
    return;
  while (pos + 6 <= kSectorSize) {
    uint8_t* pes = p + pos;
    if (pes[0] || pes[1] || pes[2] != 1) return;
    const int id = pes[3];
    if (id == 0xB9) return;
    const int length = (pes[4] << 8) | pes[5];
    const int end = pos + 6 + length;
    if (end > kSectorSize) return;
    bool drop = false;
    if (id >= 0xC0 && id <= 0xDF) {
      drop = id != audioKeep;
    } else if (id == 0xBD && length >= 3 && (pes[6] & 0xC0) == 0x80) {
      const int payload = pos + 9 + pes[8];
      if (payload < end) {
        const int sub = p[payload];
        if (sub >= 0x20 && sub <= 0x3F)
          drop = sub != subtitleKeep;
        else if (sub >= 0x80 && sub <= 0xAF)
          drop = sub != audioKeep;
      }
    }
    if (drop) {
      pes[3] = 0xBE;  // padding stream
      memset(pes + 6, 0xFF, size_t(length));
    }
    pos = end;
  }
}

std::unique_ptr<TDvdTitleStream> TDvdTitleStream::Open(const std::string& path,
                                                       const TDVDParam& param, std::string& error) {
  std::unique_ptr<TDvdTitleStream> stream(new TDvdTitleStream);
  stream->FDisc = TDvdDisc::Open(path, error, false);
  if (!stream->FDisc) return nullptr;
  if (!stream->FDisc->PlanTitle(param, stream->FPlan, error)) return nullptr;
  const TExtent& first = stream->FPlan.Extents.front();
  error =
      stream->FDisc->CheckScrambled(stream->FPlan.TitleSet, first.FirstSector, first.SectorCount);
  if (!error.empty()) return nullptr;
  stream->FFile.reset(
      DVDOpenFile(stream->FDisc->Reader(), stream->FPlan.TitleSet, DVD_READ_TITLE_VOBS));
  if (!stream->FFile) {
    error = "The video files of title " + std::to_string(param.Title + 1) + " cannot be opened.";
    return nullptr;
  }
  uint64_t sectors = 0;
  for (const TExtent& extent : stream->FPlan.Extents) {
    stream->FExtentStart.push_back(sectors);
    sectors += extent.SectorCount;
  }
  stream->FSize = int64_t(sectors) * kSectorSize;
  stream->FSector.resize(kSectorSize);
  return stream;
}

TDvdTitleStream::~TDvdTitleStream() = default;

void MakePaddingPack(uint8_t* sector) {
  // Pack header: SCR 0 and a mux rate of 10.08 Mbit/s with their marker bits, no stuffing.
  static const uint8_t kHeader[] = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04,
                                    0x00, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xF8};
  memcpy(sector, kHeader, sizeof kHeader);
  uint8_t* pes = sector + sizeof kHeader;
  const int length = kSectorSize - int(sizeof kHeader) - 6;
  const uint8_t start[] = {0x00, 0x00, 0x01, 0xBE, uint8_t(length >> 8), uint8_t(length & 0xFF)};
  memcpy(pes, start, sizeof start);
  memset(pes + 6, 0xFF, size_t(length));
}

bool IsPack(const uint8_t* sector) {
  return sector[0] == 0 && sector[1] == 0 && sector[2] == 1 && sector[3] == 0xBA &&
         ((sector[4] & 0xC0) == 0x40 || (sector[4] & 0xF0) == 0x20);
}

void TDvdTitleStream::MarkDamaged(uint64_t streamSector, int64_t& counter) {
  if (FDamaged.empty()) FDamaged.resize(size_t(SectorCount()));
  if (streamSector < FDamaged.size() && !FDamaged[streamSector]) {
    FDamaged[streamSector] = true;
    ++counter;
  }
}

void TDvdTitleStream::ReadRun(uint64_t streamSector, uint32_t fileSector, uint32_t count,
                              uint8_t* buffer) {
  if (DVDReadBlocks(FFile.get(), int(fileSector), count, buffer) == ssize_t(count)) return;
  // A disc's error correction works on blocks of 16 sectors: when one sector of a block
  // cannot be read the rest of it cannot either, and each failed read of a scratched disc
  // costs the drive its retries. So the rest of a failed block is not tried again.
  for (uint32_t i = 0; i < count;) {
    uint8_t* sector = buffer + size_t(i) * kSectorSize;
    if (DVDReadBlocks(FFile.get(), int(fileSector + i), 1, sector) == 1) {
      ++i;
      continue;
    }
    const uint32_t blockEnd = std::min(count, ((fileSector + i) | 15u) + 1 - fileSector);
    for (; i < blockEnd; ++i) {
      MakePaddingPack(buffer + size_t(i) * kSectorSize);
      MarkDamaged(streamSector + i, FUnreadable);
    }
  }
}

void TDvdTitleStream::ReadSectors(uint64_t sector, uint32_t count, uint8_t* buffer) {
  while (count > 0) {
    const size_t index = size_t(std::upper_bound(FExtentStart.begin(), FExtentStart.end(), sector) -
                                FExtentStart.begin()) -
                         1;
    const TExtent& extent = FPlan.Extents[index];
    const uint64_t within = sector - FExtentStart[index];
    const uint32_t n = uint32_t(std::min<uint64_t>(count, extent.SectorCount - within));
    ReadRun(sector, uint32_t(extent.FirstSector + within), n, buffer);
    for (uint32_t i = 0; i < n; ++i) {
      uint8_t* pack = buffer + size_t(i) * kSectorSize;
      if (!IsPack(pack)) {
        // Garbage would reach the demuxer as data; start codes in it would be taken for
        // pictures or sound.
        MakePaddingPack(pack);
        MarkDamaged(sector + i, FGarbled);
      }
      FilterPack(pack, FPlan.AudioKeep, FPlan.SubtitleKeep);
    }
    sector += n;
    count -= n;
    buffer += size_t(n) * kSectorSize;
  }
}

int TDvdTitleStream::Read(uint8_t* buffer, int size) {
  constexpr uint32_t kMaxSectors = 512;
  int done = 0;
  while (done < size && FPosition < FSize) {
    const uint64_t sector = uint64_t(FPosition) / kSectorSize;
    const int offset = int(FPosition % kSectorSize);
    const int64_t left = std::min<int64_t>(size - done, FSize - FPosition);
    if (offset == 0 && left >= kSectorSize) {
      const uint32_t count = uint32_t(std::min<int64_t>(left / kSectorSize, kMaxSectors));
      ReadSectors(sector, count, buffer + done);
      done += int(count) * kSectorSize;
      FPosition += int64_t(count) * kSectorSize;
      continue;
    }
    if (FSectorNumber != int64_t(sector)) {
      FSectorNumber = -1;
      ReadSectors(sector, 1, FSector.data());
      FSectorNumber = int64_t(sector);
    }
    const int n = int(std::min<int64_t>(left, kSectorSize - offset));
    memcpy(buffer + done, FSector.data() + offset, size_t(n));
    done += n;
    FPosition += n;
  }
  return done;
}

int64_t TDvdTitleStream::Seek(int64_t offset, int whence) {
  int64_t target;
  switch (whence) {
    case SEEK_SET:
      target = offset;
      break;
    case SEEK_CUR:
      target = FPosition + offset;
      break;
    case SEEK_END:
      target = FSize + offset;
      break;
    default:
      return -EINVAL;
  }
  if (target < 0) return -EINVAL;
  FPosition = target;
  return target;
}

std::string LanguageName(uint16_t code) {
  struct TLanguage {
    char Code[3];
    const char* Name;
  };
  static const TLanguage kLanguages[] = {
      {"ar", "Arabic"},     {"bg", "Bulgarian"},  {"ca", "Catalan"},  {"cs", "Czech"},
      {"da", "Danish"},     {"de", "German"},     {"el", "Greek"},    {"en", "English"},
      {"es", "Spanish"},    {"et", "Estonian"},   {"eu", "Basque"},   {"fa", "Persian"},
      {"fi", "Finnish"},    {"fr", "French"},     {"ga", "Irish"},    {"gl", "Galician"},
      {"he", "Hebrew"},     {"hi", "Hindi"},      {"hr", "Croatian"}, {"hu", "Hungarian"},
      {"id", "Indonesian"}, {"is", "Icelandic"},  {"it", "Italian"},  {"iw", "Hebrew"},
      {"ja", "Japanese"},   {"ko", "Korean"},     {"la", "Latin"},    {"lt", "Lithuanian"},
      {"lv", "Latvian"},    {"ms", "Malay"},      {"nl", "Dutch"},    {"no", "Norwegian"},
      {"pl", "Polish"},     {"pt", "Portuguese"}, {"ro", "Romanian"}, {"ru", "Russian"},
      {"sk", "Slovak"},     {"sl", "Slovenian"},  {"sr", "Serbian"},  {"sv", "Swedish"},
      {"ta", "Tamil"},      {"th", "Thai"},       {"tr", "Turkish"},  {"uk", "Ukrainian"},
      {"vi", "Vietnamese"}, {"zh", "Chinese"},
  };
  const char first = char(code >> 8), second = char(code & 0xFF);
  if (!std::isalpha(static_cast<unsigned char>(first)) ||
      !std::isalpha(static_cast<unsigned char>(second)))
    return "Unknown";
  const char lower[3] = {char(std::tolower(first)), char(std::tolower(second)), 0};
  for (const TLanguage& language : kLanguages)
    if (language.Code[0] == lower[0] && language.Code[1] == lower[1]) return language.Name;
  return lower;
}

}  // namespace dvddec

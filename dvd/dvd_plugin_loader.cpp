#include "dvd/dvd_plugin_loader.h"

extern "C" {
#include <libavutil/error.h>
}

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "dvd/plugin/dvd_plugin.h"
#include "media/io_scheme.h"
#include "media/loader.h"
#include "media/logger.h"

namespace {

struct TPlugIn {
  void* Handle = nullptr;
  bool Loaded = false;
  std::string FileName;
  std::string Error;
  decltype(&DVDInitialize) Initialize = nullptr;
  decltype(&DVDEnumTitle) EnumTitle = nullptr;
  decltype(&DVDGetTitle) GetTitle = nullptr;
  decltype(&DVDSetParam) SetParam = nullptr;
  decltype(&DVDGetLibVersion) GetLibVersion = nullptr;
  decltype(&DVDGetLastError) GetLastError = nullptr;
  decltype(&DVDStreamOpen) StreamOpen = nullptr;
  decltype(&DVDStreamRead) StreamRead = nullptr;
  decltype(&DVDStreamSeek) StreamSeek = nullptr;
  decltype(&DVDStreamClose) StreamClose = nullptr;
  decltype(&DVDGetChapterSeconds) GetChapterSeconds = nullptr;  // optional
  decltype(&DVDStreamDamage) StreamDamage = nullptr;            // optional
};

// Written only on the main thread while no "opendvd" input is open; streams read the
// entry points they captured when they were opened.
TPlugIn gPlugIn;

template <typename T>
void Resolve(T& entry, const char* name) {
  entry = reinterpret_cast<T>(ResolveFunction(gPlugIn.FileName, gPlugIn.Handle, name));
}

void Forget() {
  FreeLibraryModule(gPlugIn.Handle);
  std::string error = std::move(gPlugIn.Error);
  gPlugIn = TPlugIn{};
  gPlugIn.Error = std::move(error);
}

void RequireEntry(const void* entry) {
  if (!entry) throw EAssertionFailed("DVD plug-in library is not loaded.");
}

class TDVDSchemeStream : public TSchemeStream {
 public:
  TDVDSchemeStream(void* handle, const TPlugIn& plugIn)
      : FHandle(handle),
        FRead(plugIn.StreamRead),
        FSeek(plugIn.StreamSeek),
        FClose(plugIn.StreamClose),
        FLastError(plugIn.GetLastError),
        FDamage(plugIn.StreamDamage) {}
  ~TDVDSchemeStream() override {
    ReportDamage();
    FClose(FHandle);
  }
  TDVDSchemeStream(const TDVDSchemeStream&) = delete;
  TDVDSchemeStream& operator=(const TDVDSchemeStream&) = delete;

  int Read(uint8_t* buffer, int size) override {
    const int got = FRead(FHandle, buffer, size);
    if (got < 0 && !FReported) {  // one log line per stream, not one per retry
      FReported = true;
      char text[512];
      FLastError(text, sizeof text);
      GlobalLogger().Log(nullptr, llError, std::string("opendvd: ") + text);
    }
    return got < 0 ? AVERROR(-got) : got;
  }
  int64_t Seek(int64_t offset, int whence) override {
    const int64_t result = FSeek(FHandle, offset, whence);
    return result < 0 ? AVERROR(EINVAL) : result;
  }
  int64_t Size() override { return FSeek(FHandle, 0, DVD_SEEK_SIZE); }

 private:
  void ReportDamage() {
    int64_t unreadable = 0, garbled = 0, total = 0;
    if (!FDamage || !FDamage(FHandle, &unreadable, &garbled, &total)) return;
    const std::string text = DVDDamageText(unreadable, garbled, total);
    if (!text.empty()) GlobalLogger().Log(DVDInputLogSender(), llWarning, "opendvd: " + text);
  }

  void* FHandle;
  decltype(&DVDStreamRead) FRead;
  decltype(&DVDStreamSeek) FSeek;
  decltype(&DVDStreamClose) FClose;
  decltype(&DVDGetLastError) FLastError;
  decltype(&DVDStreamDamage) FDamage;
  bool FReported = false;
};

std::unique_ptr<TSchemeStream> OpenDVDInput(const std::string& drivePath, int& error) {
  const TPlugIn plugIn = gPlugIn;
  if (!plugIn.Loaded) {
    error = AVERROR(ENOSYS);
    return nullptr;
  }
  void* handle = plugIn.StreamOpen(drivePath.c_str());
  if (!handle) {
    char text[512];
    plugIn.GetLastError(text, sizeof text);
    GlobalLogger().Log(nullptr, llError, "opendvd:" + drivePath + ": " + text);
    std::error_code ec;
    error = std::filesystem::exists(drivePath, ec) ? AVERROR(EIO) : AVERROR(ENOENT);
    return nullptr;
  }
  return std::make_unique<TDVDSchemeStream>(handle, plugIn);
}

}  // namespace

const void* DVDInputLogSender() {
  static const char sender = 0;
  return &sender;
}

std::string DVDDamageText(int64_t unreadable, int64_t garbled, int64_t total) {
  const int64_t damaged = unreadable + garbled;
  if (damaged <= 0) return {};
  const double percent = total > 0 ? 100.0 * double(damaged) / double(total) : 100.0;
  char share[32];
  snprintf(share, sizeof share, "%.1f %%", percent);
  std::string text = "the disc is damaged: " + std::to_string(damaged) + " of " +
                     std::to_string(total) + " sectors of the title (" + share + ", " +
                     std::to_string(damaged * 2) + " KiB) were skipped (" +
                     std::to_string(unreadable) + " unreadable, " + std::to_string(garbled) +
                     " holding no MPEG data); the output lacks what they held";
  return text;
}

bool LoadDVDPlugIn(const std::string& folder, const std::string& initText) {
  if (DVDPlugInLoaded()) return true;
  std::string path = kDVDPlugInFileName;
  if (!folder.empty()) path = (folder.back() == '/' ? folder : folder + "/") + kDVDPlugInFileName;
  std::string error;
  gPlugIn = TPlugIn{};
  gPlugIn.Handle = LoadLibraryFromFolder(folder, kDVDPlugInFileName, error);
  if (!gPlugIn.Handle) {
    gPlugIn.Error = "Load library " + path + " error: " + error;
    return false;
  }
  gPlugIn.FileName = path;
  try {
    Resolve(gPlugIn.Initialize, "DVDInitialize");
    if (gPlugIn.Initialize(initText.c_str()) == 0) {
      gPlugIn.Error = "Initialize " + path + " error: the plug-in refused to start.";
      Forget();
      return false;
    }
    Resolve(gPlugIn.EnumTitle, "DVDEnumTitle");
    Resolve(gPlugIn.GetTitle, "DVDGetTitle");
    Resolve(gPlugIn.SetParam, "DVDSetParam");
    Resolve(gPlugIn.GetLibVersion, "DVDGetLibVersion");
    Resolve(gPlugIn.GetLastError, "DVDGetLastError");
    Resolve(gPlugIn.StreamOpen, "DVDStreamOpen");
    Resolve(gPlugIn.StreamRead, "DVDStreamRead");
    Resolve(gPlugIn.StreamSeek, "DVDStreamSeek");
    Resolve(gPlugIn.StreamClose, "DVDStreamClose");
    // A plug-in without chapter times still converts; only the checks that need them are
    // left out.
    try {
      Resolve(gPlugIn.GetChapterSeconds, "DVDGetChapterSeconds");
    } catch (const std::exception&) {
      gPlugIn.GetChapterSeconds = nullptr;
    }
    // Without the damage report a damaged title still converts, unreported.
    try {
      Resolve(gPlugIn.StreamDamage, "DVDStreamDamage");
    } catch (const std::exception&) {
      gPlugIn.StreamDamage = nullptr;
    }
  } catch (const std::exception& e) {
    gPlugIn.Error = e.what();
    Forget();
    return false;
  }
  gPlugIn.Loaded = true;
  RegisterInputScheme(kDVDInputScheme, OpenDVDInput);
  return true;
}

bool DVDPlugInLoaded() {
  return gPlugIn.Handle && gPlugIn.Loaded;
}

void UnloadDVDPlugIn() {
  if (!gPlugIn.Handle) return;
  UnregisterInputScheme(kDVDInputScheme);
  Forget();
}

std::string DVDPlugInError() {
  return gPlugIn.Error;
}

std::string DefaultDVDPlugInFolder() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "LibAV";
  return (exe.parent_path() / "LibAV").string();
}

bool LoadDVDPlugInOnDemand() {
  return DVDPlugInLoaded() || LoadDVDPlugIn(DefaultDVDPlugInFolder(), "dvdswf");
}

int EnumDVDTitles(const std::string& drivePath) {
  RequireEntry(reinterpret_cast<const void*>(gPlugIn.EnumTitle));
  return gPlugIn.EnumTitle(drivePath.c_str());
}

bool GetDVDTitle(int number, TDVDTitleInfo& info) {
  RequireEntry(reinterpret_cast<const void*>(gPlugIn.GetTitle));
  memset(&info, 0, sizeof info);
  return gPlugIn.GetTitle(number, &info) != 0;
}

void SetDVDParam(const TDVDParam& param) {
  RequireEntry(reinterpret_cast<const void*>(gPlugIn.SetParam));
  TDVDParam copy = param;
  gPlugIn.SetParam(&copy);
}

std::optional<double> GetDVDChapterSeconds(int title, int chapterFrom, int chapterTo) {
  if (!gPlugIn.GetChapterSeconds) return std::nullopt;
  double seconds = 0;
  if (gPlugIn.GetChapterSeconds(title, chapterFrom, chapterTo, &seconds) == 0) return std::nullopt;
  return seconds;
}

std::string DVDLastErrorText() {
  if (!gPlugIn.GetLastError) return {};
  char text[1024];
  gPlugIn.GetLastError(text, sizeof text);
  return text;
}

std::string DVDFormatName(int code) {
  switch (code) {
    case dfMPEG1:
      return "MPEG-1";
    case dfMPEG2:
      return "MPEG-2";
    case dfMPA:
      return "MPA";
    case dfAC3:
      return "AC3";
    case dfDTS:
      return "DTS";
    case dfLPCM:
      return "LPCM";
    case dfSUB:
      return "SUB";
    default:
      return "Unknown";
  }
}

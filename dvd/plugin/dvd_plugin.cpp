#include "dvd/plugin/dvd_plugin.h"

#include <dvdread/version.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "dvd/plugin/dvd_disc.h"

namespace {

struct TPlugInState {
  std::mutex Mutex;
  std::unique_ptr<dvddec::TDvdDisc> Disc;
  TDVDParam Param{0, 0, 99, 128, 32, 2, 0};
  std::string LastError;
};

TPlugInState& State() {
  static TPlugInState state;
  return state;
}

void SetLastError(const std::string& text) {
  std::lock_guard lock(State().Mutex);
  State().LastError = text;
}

}  // namespace

int DVDInitialize(const char* /*initText*/) {
  return 1;
}

int DVDEnumTitle(const char* path) {
  std::string error;
  auto disc = dvddec::TDvdDisc::Open(path ? path : "", error);
  std::lock_guard lock(State().Mutex);
  State().Disc = std::move(disc);
  State().LastError = error;
  return State().Disc ? State().Disc->TitleCount() : 0;
}

int DVDGetTitle(int title, TDVDTitleInfo* info) {
  if (!info) return 0;
  std::lock_guard lock(State().Mutex);
  if (!State().Disc) {
    memset(info, 0, sizeof *info);
    State().LastError = "No disc has been opened.";
    return 0;
  }
  std::string error;
  const bool ok = State().Disc->GetTitle(title, *info, error);
  if (!ok) State().LastError = error;
  return ok ? 1 : 0;
}

int DVDSetParam(const TDVDParam* param) {
  if (!param) return 0;
  std::lock_guard lock(State().Mutex);
  State().Param = *param;
  return 1;
}

int DVDGetChapterSeconds(int title, int chapterFrom, int chapterTo, double* seconds) {
  if (!seconds) return 0;
  std::lock_guard lock(State().Mutex);
  if (!State().Disc) {
    State().LastError = "No disc has been opened.";
    return 0;
  }
  dvddec::TTitlePlan plan;
  std::string error;
  if (!State().Disc->PlanTitle(TDVDParam{title, chapterFrom, chapterTo, 0, 0, 2, 0}, plan, error)) {
    State().LastError = error;
    return 0;
  }
  *seconds = plan.Seconds;
  return 1;
}

int DVDGetLibVersion(void) {
  return DVDREAD_VERSION;
}

int DVDGetLastError(char* buffer, int size) {
  std::lock_guard lock(State().Mutex);
  const std::string& text = State().LastError;
  if (buffer && size > 0) {
    const size_t n = std::min(size_t(size - 1), text.size());
    memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  }
  return int(text.size());
}

void* DVDStreamOpen(const char* path) {
  TDVDParam param;
  {
    std::lock_guard lock(State().Mutex);
    param = State().Param;
  }
  std::string error;
  auto stream = dvddec::TDvdTitleStream::Open(path ? path : "", param, error);
  if (!stream) {
    SetLastError(error);
    return nullptr;
  }
  return stream.release();  // owned by the caller until DVDStreamClose
}

int DVDStreamRead(void* stream, uint8_t* buffer, int size) {
  if (!stream || !buffer || size < 0) return -EINVAL;
  const int result = static_cast<dvddec::TDvdTitleStream*>(stream)->Read(buffer, size);
  if (result < 0) SetLastError("Reading the disc failed; it may be damaged, dirty or truncated.");
  return result;
}

int64_t DVDStreamSeek(void* stream, int64_t offset, int whence) {
  if (!stream) return -EINVAL;
  auto* title = static_cast<dvddec::TDvdTitleStream*>(stream);
  if (whence & DVD_SEEK_SIZE) return title->Size();
  return title->Seek(offset, whence);
}

int DVDStreamDamage(void* stream, int64_t* unreadable, int64_t* garbled, int64_t* total) {
  if (!stream || !unreadable || !garbled || !total) return 0;
  const auto* title = static_cast<const dvddec::TDvdTitleStream*>(stream);
  *unreadable = title->UnreadableSectors();
  *garbled = title->GarbledSectors();
  *total = title->SectorCount();
  return 1;
}

void DVDStreamClose(void* stream) {
  std::unique_ptr<dvddec::TDvdTitleStream> owned(static_cast<dvddec::TDvdTitleStream*>(stream));
}

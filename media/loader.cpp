#include "media/loader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}
#include <SDL2/SDL.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <array>
#include <cassert>
#include <stdexcept>
#include <vector>

#include "media/file_names.h"
#include "media/logger.h"

namespace {

struct TLibraryItem {
  const char* Name;
  const char* SharedObject;  // the linked library's file name
  std::vector<const char*> Entries;
  void (*Register)();
};

void RegisterDevices() {
  avdevice_register_all();
}

void CheckSDLAudio() {
  // The player needs an audio driver; SDL_AUDIODRIVER=dummy satisfies this on a headless
  // machine.
  if (SDL_GetNumAudioDrivers() < 1) throw std::runtime_error("SDL has no audio driver");
}

#define SO_NAME(lib, major) "lib" lib ".so." AV_STRINGIFY(major)

const std::array<TLibraryItem, kLibraryCount> kLibraries = {{
    {"avcodec",
     SO_NAME("avcodec", LIBAVCODEC_VERSION_MAJOR),
     {"avcodec_version", "avcodec_find_decoder", "avcodec_find_encoder_by_name",
      "avcodec_alloc_context3", "avcodec_open2", "avcodec_send_packet", "avcodec_receive_frame",
      "avcodec_send_frame", "avcodec_receive_packet", "avcodec_free_context", "av_bsf_get_by_name",
      "av_packet_alloc"},
     nullptr},
    {"avdevice",
     SO_NAME("avdevice", LIBAVDEVICE_VERSION_MAJOR),
     {"avdevice_version", "avdevice_register_all"},
     RegisterDevices},
    {"avfilter",
     SO_NAME("avfilter", LIBAVFILTER_VERSION_MAJOR),
     {"avfilter_version", "avfilter_get_by_name", "avfilter_graph_alloc",
      "avfilter_graph_parse_ptr", "avfilter_graph_config", "av_buffersrc_add_frame_flags",
      "av_buffersink_get_frame"},
     nullptr},
    {"avformat",
     SO_NAME("avformat", LIBAVFORMAT_VERSION_MAJOR),
     {"avformat_version", "avformat_open_input", "avformat_find_stream_info", "av_read_frame",
      "avformat_alloc_output_context2", "avformat_write_header", "av_interleaved_write_frame",
      "av_write_trailer", "avio_open", "avio_alloc_context", "av_seek_frame"},
     nullptr},
    {"avutil",
     SO_NAME("avutil", LIBAVUTIL_VERSION_MAJOR),
     {"avutil_version", "av_log_set_callback", "av_log_set_level", "av_frame_alloc",
      "av_audio_fifo_alloc", "av_opt_find", "av_dict_set", "av_rescale_q", "av_pix_fmt_desc_get"},
     nullptr},
    {"swscale",
     SO_NAME("swscale", LIBSWSCALE_VERSION_MAJOR),
     {"swscale_version", "sws_getCachedContext", "sws_scale", "sws_freeContext"},
     nullptr},
    {"swresample",
     SO_NAME("swresample", LIBSWRESAMPLE_VERSION_MAJOR),
     {"swresample_version", "swr_alloc_set_opts2", "swr_init", "swr_convert",
      "swr_set_compensation", "swr_free"},
     nullptr},
    {"SDL",
     "libSDL2-2.0.so.0",
     {"SDL_Init", "SDL_Quit", "SDL_OpenAudioDevice", "SDL_PauseAudioDevice", "SDL_CloseAudioDevice",
      "SDL_MixAudioFormat", "SDL_GetError", "SDL_GetNumAudioDrivers"},
     CheckSDLAudio},
}};

struct TLibraryStatus {
  std::string FileNameOverride;
  void* Module = nullptr;
  bool Resolved = false;
};

struct LoaderState {
  mutable std::mutex Mutex;  // guards the texts; rows change only on the loading thread
  std::string LastError;
  std::string LibraryPath;
  std::array<TLibraryStatus, kLibraryCount> Rows;
};

LoaderState& State() {
  static LoaderState state;
  return state;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void SetLastError(const std::string& text) {
  std::lock_guard lock(State().Mutex);
  State().LastError = text;
}

void* Resolve(const char* kind, const std::string& libraryFileName, void* module,
              const char* entryName, bool optional) {
  dlerror();
  void* address = module ? dlsym(module, entryName) : nullptr;
  if (address || optional) return address;
  const char* reason = dlerror();
  std::string text = std::string("Load ") + kind + " " + entryName + "@" + libraryFileName +
                     " error: " + (reason ? reason : "no such entry");
  throw std::runtime_error(text);
}

}  // namespace

TLibraryLoader& GlobalLoader() {
  static TLibraryLoader loader;
  return loader;
}

std::recursive_mutex& CodecLock() {
  static std::recursive_mutex lock;
  return lock;
}

void TLibraryLoader::SetLibraryPath(const std::string& folder) {
  std::lock_guard lock(State().Mutex);
  State().LibraryPath = folder;
}

std::string TLibraryLoader::LibraryPath() const {
  std::lock_guard lock(State().Mutex);
  return State().LibraryPath;
}

std::string TLibraryLoader::LastError() const {
  std::lock_guard lock(State().Mutex);
  return State().LastError;
}

std::string TLibraryLoader::LibraryName(int index) const {
  assert(index >= 0 && index < kLibraryCount);
  return kLibraries[index].Name;
}

std::string TLibraryLoader::LibraryFileName(int index) const {
  assert(index >= 0 && index < kLibraryCount);
  std::lock_guard lock(State().Mutex);
  const auto& row = State().Rows[index];
  return row.FileNameOverride.empty() ? kLibraries[index].SharedObject : row.FileNameOverride;
}

void TLibraryLoader::SetLibraryFileName(int index, const std::string& fileName) {
  assert(index >= 0 && index < kLibraryCount);
  std::lock_guard lock(State().Mutex);
  State().Rows[index].FileNameOverride = fileName;
}

bool TLibraryLoader::LoadLibraryItem(int index) {
  assert(index >= 0 && index < kLibraryCount);
  auto& row = State().Rows[index];
  const std::string fileName = LibraryFileName(index);
  if (!row.Module) {
    std::string folder, name = fileName;
    const size_t slash = fileName.rfind('/');
    if (slash != std::string::npos) {
      folder = fileName.substr(0, slash + 1);
      name = fileName.substr(slash + 1);
    } else {
      folder = LibraryPath();
      if (!folder.empty() && folder.back() != '/') folder += '/';
    }
    std::string error;
    row.Module = LoadLibraryFromFolder(folder, name, error);
    if (!row.Module) {
      SetLastError("Load library " + folder + name + " error: " + error);
      return false;
    }
  }
  if (!row.Resolved) {
    try {
      for (const char* entry : kLibraries[index].Entries)
        ResolveFunction(fileName, row.Module, entry);
      if (kLibraries[index].Register) kLibraries[index].Register();
      row.Resolved = true;
    } catch (const std::exception& e) {
      SetLastError(e.what());
    }
  }
  if (!row.Resolved) {
    UnloadLibraryItem(index);
    return false;
  }
  if (index == liAVUtil && HookLog) GlobalLogger().InstallLogCallback();
  if (index == liAVFormat) RegisterUnicodeProtocol();
  return true;
}

void TLibraryLoader::UnloadLibraryItem(int index) {
  assert(index >= 0 && index < kLibraryCount);
  auto& row = State().Rows[index];
  row.Resolved = false;
  if (row.Module) {
    FreeLibraryModule(row.Module);
    row.Module = nullptr;
  }
}

bool TLibraryLoader::LoadLibraries(TLibrarySet set) {
  assert(set != 0);
  for (int i = 0; i < kLibraryCount; ++i) {
    if (!(set & (1u << i))) continue;
    if (!LoadLibraryItem(i)) {
      UnloadLibraries(set);
      return false;
    }
  }
  return true;
}

void TLibraryLoader::UnloadLibraries(TLibrarySet set) {
  assert(set != 0);
  for (int i = 0; i < kLibraryCount; ++i)
    if (set & (1u << i)) UnloadLibraryItem(i);
}

bool TLibraryLoader::LibrariesLoaded(TLibrarySet set) const {
  assert(set != 0);
  for (int i = 0; i < kLibraryCount; ++i)
    if ((set & (1u << i)) && !LibraryLoaded(i)) return false;
  return true;
}

bool TLibraryLoader::LibraryLoaded(int index) const {
  assert(index >= 0 && index < kLibraryCount);
  const auto& row = State().Rows[index];
  return row.Module && row.Resolved;
}

void* LoadLibraryFromFolder(const std::string& folder, const std::string& name,
                            std::string& error) {
  std::string path = name;
  if (!folder.empty()) {
    std::string joined = folder;
    if (joined.back() != '/') joined += '/';
    joined += name;
    if (FileExists(joined)) path = joined;
  }
  dlerror();
  // The library's own RUNPATH finds its dependencies beside it; no search-path change needed.
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char* reason = dlerror();
    error = reason ? reason : "unknown error";
  }
  return module;
}

void FreeLibraryModule(void* module) {
  if (module) dlclose(module);
}

void* ResolveFunction(const std::string& libraryFileName, void* module, const char* entryName,
                      bool optional) {
  return Resolve("function", libraryFileName, module, entryName, optional);
}

void* ResolveVariable(const std::string& libraryFileName, void* module, const char* entryName,
                      bool optional) {
  return Resolve("variable", libraryFileName, module, entryName, optional);
}

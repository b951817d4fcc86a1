#include "engine/hook_libraries.h"

#include <cstdint>

extern "C" {
#include <libavutil/log.h>
}

#include <memory>
#include <mutex>

#include "media/loader.h"
#include "media/strings.h"

namespace {

struct TLoadedModule {
  std::string FileName;
  void* Module = nullptr;
};

std::mutex gModulesMutex;
std::vector<TLoadedModule>& Modules() {
  static std::vector<TLoadedModule> modules;
  return modules;
}

// The module of `fileName`, loading it on first use. Null with `error` set when it cannot be
// loaded.
void* ModuleOf(const std::string& fileName, std::string& error) {
  std::lock_guard lock(gModulesMutex);
  for (const auto& loaded : Modules())
    if (SameText(loaded.FileName, fileName)) return loaded.Module;
  // A name with a folder part is opened from there; its dependencies are found through the
  // library's own RUNPATH, so neither the current folder nor PATH need changing.
  std::string folder, name = fileName;
  if (const size_t slash = fileName.rfind('/'); slash != std::string::npos) {
    folder = fileName.substr(0, slash + 1);
    name = fileName.substr(slash + 1);
  }
  void* module = LoadLibraryFromFolder(folder, name, error);
  if (!module) return nullptr;
  Modules().push_back({fileName, module});
  return module;
}

}  // namespace

int AddHookLibrary(THookLibraryList& list, const std::vector<std::string>& args) {
  if (args.empty()) return -2;
  const std::string& fileName = args[0];
  std::string error;
  void* module = ModuleOf(fileName, error);
  if (!module) {
    av_log(nullptr, AV_LOG_ERROR, "%s\n", error.c_str());
    return -1;
  }
  THookLibraryEntry entry;
  entry.Configure =
      reinterpret_cast<TFrameHookConfigure>(ResolveFunction(fileName, module, "Configure", true));
  entry.Process =
      reinterpret_cast<TFrameHookProcess>(ResolveFunction(fileName, module, "Process", true));
  entry.Release =
      reinterpret_cast<TFrameHookRelease>(ResolveFunction(fileName, module, "Release", true));
  if (!entry.Process) {
    av_log(nullptr, AV_LOG_ERROR, "Failed to find Process entrypoint in %s\n", fileName.c_str());
    return -2;
  }
  if (!entry.Configure && args.size() > 1) {
    av_log(nullptr, AV_LOG_ERROR, "Failed to find Configure entrypoint in %s\n", fileName.c_str());
    return -2;
  }
  if (entry.Configure) {
    // The hook may keep argv's texts until Release, so they live with the entry.
    entry.Args = std::make_shared<std::vector<std::string>>(args);
    std::vector<char*> argv;
    for (auto& text : *entry.Args) argv.push_back(text.data());
    argv.push_back(nullptr);
    if (entry.Configure(&entry.Context, int(args.size()), argv.data()) != 0) {
      av_log(nullptr, AV_LOG_ERROR, "Failed to Configure %s\n", fileName.c_str());
      return -22;
    }
  }
  list.push_back(entry);
  return 0;
}

void RunHookLibraries(const THookLibraryList& list, TFrameHookPicture* picture, int pixFmt,
                      int width, int height, int64_t pts) {
  for (const auto& entry : list) entry.Process(entry.Context, picture, pixFmt, width, height, pts);
}

void ReleaseHookLibraries(THookLibraryList& list) {
  for (const auto& entry : list)
    if (entry.Release) entry.Release(entry.Context);
  list.clear();
}

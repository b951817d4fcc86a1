// Frame-hook libraries: shared libraries named on the "vhook" option that receive every
// converted picture and may change it in place (see engine/frame_hook.h for the contract).
//
// Threads: a hook list belongs to one transcoder; it is built while options are parsed (the
// application's thread) and run on the conversion thread. The process-wide module list is
// guarded internally; modules stay loaded until the process ends.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/frame_hook.h"

struct THookLibraryEntry {
  TFrameHookConfigure Configure = nullptr;
  TFrameHookProcess Process = nullptr;
  TFrameHookRelease Release = nullptr;
  void* Context = nullptr;                         // filled by Configure
  std::shared_ptr<std::vector<std::string>> Args;  // the texts Configure was given
};

using THookLibraryList = std::vector<THookLibraryEntry>;

// Loads args[0] (once per process; later uses reuse the module), configures it with all the
// arguments and appends it to `list`. Returns 0, or -2 (no arguments, or a missing entry
// point), -1 (the library cannot be loaded), -22 (Configure failed). Failures are logged
// through the library's logger at error level.
int AddHookLibrary(THookLibraryList& list, const std::vector<std::string>& args);

// Calls each entry's Process in order.
void RunHookLibraries(const THookLibraryList& list, TFrameHookPicture* picture, int pixFmt,
                      int width, int height, int64_t pts);

// Calls each entry's Release (when present) and empties the list.
void ReleaseHookLibraries(THookLibraryList& list);

// The library sets the engine and the player need, loaded all-or-nothing with one error
// text, and the load-time side effects the rest of the engine relies on (library log
// output routed to the logger, device registration, the "unicode" input scheme, the SDL
// audio check).
//
// FFmpeg and SDL2 are linked at build time; programs carry RUNPATH $ORIGIN/LibAV so that
// libraries placed in LibAV/ beside them win over the system's. Loading a row opens the
// library's shared object again by name (which finds the copy already mapped), checks the
// entries the engine needs, and runs the row's registration. The same dlopen/dlsym
// helpers load the DVD plug-in and frame-hook libraries.
//
// Threads: load and unload on the main thread before engine threads run; the queries may
// be called from any thread afterwards.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

enum TLibraryIndex : int {
  liAVCodec = 0,
  liAVDevice = 1,
  liAVFilter = 2,
  liAVFormat = 3,
  liAVUtil = 4,
  liSWScale = 5,
  liSWResample = 6,  // takes the row the shared C runtime had; one runtime needs no row
  liSDL = 7,
};
constexpr int kLibraryCount = 8;

// A set of library indexes, bit n standing for index n.
using TLibrarySet = uint8_t;
constexpr TLibrarySet LibraryBit(TLibraryIndex index) {
  return TLibrarySet(1u << index);
}
constexpr TLibrarySet ConverterLibraries = LibraryBit(liAVCodec) | LibraryBit(liAVFilter) |
                                           LibraryBit(liAVFormat) | LibraryBit(liAVUtil) |
                                           LibraryBit(liSWScale) | LibraryBit(liSWResample);  // 125
constexpr TLibrarySet PlayerLibraries = ConverterLibraries | LibraryBit(liSDL);               // 253

class TLibraryLoader {
 public:
  // Route library log output through the logger when the utility library loads.
  bool HookLog = true;

  void SetLibraryPath(const std::string& folder);
  std::string LibraryPath() const;
  std::string LastError() const;

  // The override when one is set, otherwise the shared object's name
  // ("libavcodec.so.59", "libSDL2-2.0.so.0").
  std::string LibraryFileName(int index) const;
  void SetLibraryFileName(int index, const std::string& fileName);  // empty: no override
  std::string LibraryName(int index) const;                         // "avcodec", ..., "SDL"

  bool LoadLibraryItem(int index);
  void UnloadLibraryItem(int index);
  // At the first failure every member of the set is unloaded and LastError names it.
  bool LoadLibraries(TLibrarySet set);
  void UnloadLibraries(TLibrarySet set);
  bool LibrariesLoaded(TLibrarySet set) const;
  bool LibraryLoaded(int index) const;
};

TLibraryLoader& GlobalLoader();
inline bool LibraryLoaded(int index) {
  return GlobalLoader().LibraryLoaded(index);
}

// Serialises every codec open and close and every stream-information read across
// transcoders, players and probes.
std::recursive_mutex& CodecLock();

// Loads `name` from `folder` when that file exists there, otherwise through the system's
// search. Returns the module handle, or null with `error` set to the system's text.
void* LoadLibraryFromFolder(const std::string& folder, const std::string& name, std::string& error);
void FreeLibraryModule(void* module);

// Look an entry up in `module`. When it is absent and not `optional`, throw
// std::runtime_error("Load function %s@%s error: %s") (or "Load variable ...") with the
// entry name, the library file name and the system's text.
void* ResolveFunction(const std::string& libraryFileName, void* module, const char* entryName,
                      bool optional = false);
void* ResolveVariable(const std::string& libraryFileName, void* module, const char* entryName,
                      bool optional = false);

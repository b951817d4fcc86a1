// The C entry points of libdvddec.so, looked up by name by the DVD wrapper
// (dvd/dvd_plugin_loader.h).
//
// Threads: DVDEnumTitle, DVDGetTitle and DVDSetParam are called from the main thread; the
// stream functions from any thread, one thread per stream at a time. The plug-in's shared
// state (the disc last enumerated, the selection, the last error) is guarded inside.
#pragma once

#include <cstdint>

#include "dvd/dvd_records.h"

#define DVDDEC_API __attribute__((visibility("default")))

extern "C" {

// Non-zero on success. The text is free-form (the wrapper passes the program's name).
DVDDEC_API int DVDInitialize(const char* initText);
// The number of titles of the disc at `path` (a device, an ISO image, a folder holding
// VIDEO_TS or the VIDEO_TS folder); 0 when there is no readable disc (DVDGetLastError says
// why). The disc stays open for DVDGetTitle.
DVDDEC_API int DVDEnumTitle(const char* path);
// Fills `info` for a 0-based title of the disc last enumerated; non-zero when valid.
DVDDEC_API int DVDGetTitle(int title, TDVDTitleInfo* info);
// The selection the next DVDStreamOpen delivers; the record is copied.
DVDDEC_API int DVDSetParam(const TDVDParam* param);
// libdvdread's version as major * 10000 + minor * 100 + micro.
DVDDEC_API int DVDGetLibVersion(void);

// The playing time in seconds of a 0-based title's chapters from..to (as DVDSetParam
// reads them: 0 is the first chapter; 0, 99 or past the last is the last), from the
// program chain's cell times. Non-zero when `seconds` was filled.
DVDDEC_API int DVDGetChapterSeconds(int title, int chapterFrom, int chapterTo, double* seconds);

// Copies the last failure's text (zero-terminated, cut to `size`) and returns its length.
DVDDEC_API int DVDGetLastError(char* buffer, int size);

// The current selection of the disc at `path` as one MPEG program stream; null on failure
// (DVDGetLastError says why).
DVDDEC_API void* DVDStreamOpen(const char* path);
// Bytes read, 0 at the end, or a negative errno value.
DVDDEC_API int DVDStreamRead(void* stream, uint8_t* buffer, int size);
// whence: SEEK_SET, SEEK_CUR, SEEK_END, or DVD_SEEK_SIZE for the size in bytes.
DVDDEC_API int64_t DVDStreamSeek(void* stream, int64_t offset, int whence);
DVDDEC_API void DVDStreamClose(void* stream);
// The stream's damage so far: sectors that could not be read and sectors that held no
// MPEG pack, each delivered as padding; `total` is the title's sector count. Non-zero when
// filled.
DVDDEC_API int DVDStreamDamage(void* stream, int64_t* unreadable, int64_t* garbled, int64_t* total);
}

constexpr int DVD_SEEK_SIZE = 0x10000;  // the value FFmpeg uses for its size query

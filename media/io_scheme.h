// Input schemes: an input named "scheme:rest" whose scheme is registered here is read
// through a stream the scheme provides, wrapped in a custom AVIOContext. Transcoder, probe
// and player open every input through OpenMediaInput, so a scheme registered once (the DVD
// wrapper's "opendvd", the "unicode" file names) works everywhere.
//
// Threads: register and unregister on the main thread before engine threads open inputs;
// OpenMediaInput and CloseMediaInput may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct AVFormatContext;
struct AVInputFormat;
struct AVDictionary;
struct AVIOInterruptCB;

class TSchemeStream {
 public:
  virtual ~TSchemeStream() = default;
  // Up to `size` bytes; 0 or a negative FFmpeg error code at the end or on failure.
  virtual int Read(uint8_t* buffer, int size) = 0;
  // whence is SEEK_SET, SEEK_CUR or SEEK_END; returns the new position or a negative code.
  virtual int64_t Seek(int64_t offset, int whence) = 0;
  // Total size in bytes, or a negative code when unknown.
  virtual int64_t Size() = 0;
};

// Opens the stream for `rest` (the input name after "scheme:"). Returns null and sets
// `error` (an FFmpeg error code) when it cannot.
using TSchemeOpener =
    std::function<std::unique_ptr<TSchemeStream>(const std::string& rest, int& error)>;

void RegisterInputScheme(const std::string& scheme, TSchemeOpener opener);  // replaces
void UnregisterInputScheme(const std::string& scheme);
bool InputSchemeRegistered(const std::string& scheme);
// The registered scheme `url` begins with ("scheme:"), or empty.
std::string InputSchemeOf(const std::string& url);

// avformat_open_input for plain names and registered schemes alike. Returns 0 or a
// negative FFmpeg error code (on failure *context is null, as with avformat_open_input).
// `interrupt` may be null.
int OpenMediaInput(AVFormatContext** context, const std::string& url, const AVInputFormat* format,
                   AVDictionary** options, const AVIOInterruptCB* interrupt = nullptr);
// The last failure a read of the input's stream reported (a negative FFmpeg code, not the
// end of the stream), or 0. FFmpeg's demuxers may read on after a failed read and report
// only the end of the input; this tells the two apart. Any thread.
int MediaInputReadError(const AVFormatContext* context);
// Closes what OpenMediaInput opened, including a scheme's stream; null-safe.
void CloseMediaInput(AVFormatContext** context);

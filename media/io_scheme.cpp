#include "media/io_scheme.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include <atomic>
#include <map>
#include <mutex>

namespace {

std::mutex gSchemesMutex;
std::map<std::string, TSchemeOpener>& Schemes() {
  static std::map<std::string, TSchemeOpener> schemes;
  return schemes;
}

struct SchemeIO {
  std::unique_ptr<TSchemeStream> Stream;
  std::atomic<int> ReadError{0};  // the last failure of Stream->Read
};

// The AVIOContexts OpenMediaInput made, with the stream each reads; CloseMediaInput frees
// only contexts found here.
std::mutex gOpenMutex;
std::map<AVIOContext*, std::unique_ptr<SchemeIO>>& OpenStreams() {
  static std::map<AVIOContext*, std::unique_ptr<SchemeIO>> open;
  return open;
}

int ReadPacket(void* opaque, uint8_t* buffer, int size) {
  auto* io = static_cast<SchemeIO*>(opaque);
  int got = io->Stream->Read(buffer, size);
  if (got < 0 && got != AVERROR_EOF) io->ReadError = got;
  return got == 0 ? AVERROR_EOF : got;
}

int64_t SeekStream(void* opaque, int64_t offset, int whence) {
  auto* io = static_cast<SchemeIO*>(opaque);
  if (whence & AVSEEK_SIZE) return io->Stream->Size();
  return io->Stream->Seek(offset, whence & ~AVSEEK_FORCE);
}

void FreeSchemeIO(AVIOContext** pb) {
  if (!*pb) return;
  std::unique_ptr<SchemeIO> io;
  {
    std::lock_guard lock(gOpenMutex);
    auto it = OpenStreams().find(*pb);
    if (it == OpenStreams().end()) return;
    io = std::move(it->second);
    OpenStreams().erase(it);
  }
  av_freep(&(*pb)->buffer);
  avio_context_free(pb);
}

}  // namespace

void RegisterInputScheme(const std::string& scheme, TSchemeOpener opener) {
  std::lock_guard lock(gSchemesMutex);
  Schemes()[scheme] = std::move(opener);
}

void UnregisterInputScheme(const std::string& scheme) {
  std::lock_guard lock(gSchemesMutex);
  Schemes().erase(scheme);
}

bool InputSchemeRegistered(const std::string& scheme) {
  std::lock_guard lock(gSchemesMutex);
  return Schemes().count(scheme) != 0;
}

std::string InputSchemeOf(const std::string& url) {
  const size_t colon = url.find(':');
  if (colon == std::string::npos || colon == 0) return {};
  std::string scheme = url.substr(0, colon);
  return InputSchemeRegistered(scheme) ? scheme : std::string();
}

int OpenMediaInput(AVFormatContext** context, const std::string& url, const AVInputFormat* format,
                   AVDictionary** options, const AVIOInterruptCB* interrupt) {
  *context = nullptr;
  const std::string scheme = InputSchemeOf(url);
  if (scheme.empty()) {
    AVFormatContext* ctx = avformat_alloc_context();
    if (!ctx) return AVERROR(ENOMEM);
    if (interrupt) ctx->interrupt_callback = *interrupt;
    int ret = avformat_open_input(&ctx, url.c_str(), format, options);
    if (ret >= 0) *context = ctx;
    return ret;
  }

  TSchemeOpener opener;
  {
    std::lock_guard lock(gSchemesMutex);
    opener = Schemes()[scheme];
  }
  int error = AVERROR(ENOENT);
  std::unique_ptr<TSchemeStream> stream = opener(url.substr(scheme.size() + 1), error);
  if (!stream) return error < 0 ? error : AVERROR(ENOENT);

  constexpr int kBufferSize = 64 * 1024;
  auto* buffer = static_cast<uint8_t*>(av_malloc(kBufferSize));
  if (!buffer) return AVERROR(ENOMEM);
  auto io = std::make_unique<SchemeIO>();
  io->Stream = std::move(stream);
  AVIOContext* pb =
      avio_alloc_context(buffer, kBufferSize, 0, io.get(), ReadPacket, nullptr, SeekStream);
  if (!pb) {
    av_free(buffer);
    return AVERROR(ENOMEM);
  }
  {
    std::lock_guard lock(gOpenMutex);
    OpenStreams()[pb] = std::move(io);
  }
  AVFormatContext* ctx = avformat_alloc_context();
  if (!ctx) {
    FreeSchemeIO(&pb);
    return AVERROR(ENOMEM);
  }
  ctx->pb = pb;
  ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
  if (interrupt) ctx->interrupt_callback = *interrupt;
  int ret = avformat_open_input(&ctx, url.c_str(), format, options);
  if (ret < 0) {  // avformat_open_input freed ctx but leaves a custom pb to its owner
    FreeSchemeIO(&pb);
    return ret;
  }
  *context = ctx;
  return 0;
}

int MediaInputReadError(const AVFormatContext* context) {
  if (!context || !context->pb) return 0;
  if (context->pb->error < 0) return context->pb->error;
  std::lock_guard lock(gOpenMutex);
  auto it = OpenStreams().find(context->pb);
  return it == OpenStreams().end() ? 0 : it->second->ReadError.load();
}

void CloseMediaInput(AVFormatContext** context) {
  if (!context || !*context) return;
  AVIOContext* pb = ((*context)->flags & AVFMT_FLAG_CUSTOM_IO) ? (*context)->pb : nullptr;
  avformat_close_input(context);
  FreeSchemeIO(&pb);  // does nothing for a custom context that is not ours
}

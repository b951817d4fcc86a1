#include "media/logger.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <mutex>

#include "media/loader.h"
#include "media/main_thread.h"
#include "media/strings.h"

namespace {

std::atomic<int> gLibraryLogLevel{32};

std::mutex gLoggerMutex;
TMediaLogger* gLogger = nullptr;
std::unique_ptr<TMediaLogger> gOwnedLogger;  // the one GlobalLogger made itself

// The part of a library line received so far on this thread. Per thread, so that output of
// different threads never mixes within a line, and no lock is needed.
thread_local std::string tPendingLine;

}  // namespace

int LogLevelToLibrary(TLogLevel level) {
  return (int(level) - 1) * 8;
}

TLogLevel LibraryToLogLevel(int libraryLevel) {
  int ordinal = libraryLevel / 8 + 1;
  if (ordinal < 0) ordinal = 0;
  if (ordinal > 7) ordinal = 7;
  return TLogLevel(ordinal);
}

int LibraryLogLevel() {
  return gLibraryLogLevel.load();
}

TMediaLogger::TMediaLogger(TMediaComponent* owner) : TMediaComponent(owner) {
  std::lock_guard lock(gLoggerMutex);
  if (gLogger) throw std::runtime_error("Allow creating only one instance of TMediaLogger.");
  FLogLevel = LibraryToLogLevel(gLibraryLogLevel.load());
  gLogger = this;
}

TMediaLogger::~TMediaLogger() {
  std::lock_guard lock(gLoggerMutex);
  if (gLogger == this) gLogger = nullptr;
}

TMediaLogger& GlobalLogger() {
  static std::mutex createMutex;  // the constructor takes gLoggerMutex itself
  std::lock_guard create(createMutex);
  {
    std::lock_guard lock(gLoggerMutex);
    if (gLogger) return *gLogger;
  }
  gOwnedLogger = std::make_unique<TMediaLogger>();
  return *gOwnedLogger;
}

void TMediaLogger::SetLogLevel(TLogLevel level) {
  if (level == FLogLevel) return;
  FLogLevel = level;
  ApplyLogLevel();
}

void TMediaLogger::SetLogLevelByName(const std::string& name) {
  static const struct {
    const char* name;
    int level;
  } kNames[] = {{"quiet", -8},   {"panic", 0}, {"fatal", 8},    {"error", 16},
                {"warning", 24}, {"info", 32}, {"verbose", 40}, {"debug", 48}};
  for (const auto& entry : kNames) {
    if (SameText(name, entry.name)) {
      SetLogLevel(LibraryToLogLevel(entry.level));
      return;
    }
  }
  size_t used = 0;
  int number = 0;
  try {
    number = std::stoi(name, &used, 10);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != name.size())
    throw std::invalid_argument("'" + name + "' is not a valid integer value");
  SetLogLevel(LibraryToLogLevel(number));
}

void TMediaLogger::ApplyLogLevel() {
  if (!LibraryLoaded(liAVUtil)) return;
  gLibraryLogLevel = LogLevelToLibrary(FLogLevel);
  av_log_set_level(gLibraryLogLevel.load());
}

void TMediaLogger::InstallLogCallback() {
  if (!LibraryLoaded(liAVUtil))
    throw std::logic_error("InstallLogCallback before the utility library is loaded");
  av_log_set_callback(LogCallback);
  ApplyLogLevel();
}

bool TMediaLogger::Passes(TLogLevel level) const {
  return level <= FLogLevel || (level == llVerbose && FLogLevel != llQuiet);
}

void TMediaLogger::Deliver(TLogInfo info) {
  if (!OnLog) return;
  // Each delivery carries its own record: a worker waiting for the main thread never
  // shares a slot with another thread's message.
  auto run = [this, &info] {
    if (OnLog) OnLog(info.Sender, info.ThreadID, info.LogLevel, info.Msg);
  };
  if (TriggerEventInMainThread)
    CallInMainThread(run);
  else
    run();
}

void TMediaLogger::Log(const void* Sender, TLogLevel ALogLevel, const std::string& ALogMsg) {
  if (!OnLog || !Passes(ALogLevel)) return;
  Deliver({Sender, CurrentThreadId(), ALogLevel, ALogMsg});
}

void TMediaLogger::LogFmt(const void* Sender, TLogLevel ALogLevel, const char* AFormat, ...) {
  if (!OnLog || !Passes(ALogLevel)) return;
  va_list args;
  va_start(args, AFormat);
  std::string text = FormatTextV(AFormat, args);
  va_end(args);
  Deliver({Sender, CurrentThreadId(), ALogLevel, std::move(text)});
}

void TMediaLogger::LibraryLog(uint32_t AThreadID, int ALibraryLevel, const std::string& ALine) {
  if (!OnLog) return;
  Deliver({this, AThreadID, LibraryToLogLevel(ALibraryLevel), ALine});
}

void LogCallback(void* context, int level, const char* format, va_list args) {
  if (level > gLibraryLogLevel.load()) return;
  std::string message = FormatTextV(format, args);
  if (tPendingLine.empty()) {
    const AVClass* cls = context ? *static_cast<const AVClass* const*>(context) : nullptr;
    if (cls) {
      char prefix[256];
      snprintf(prefix, sizeof prefix, "[%s @ %0*" PRIXPTR "]", cls->item_name(context),
               int(sizeof(void*) * 2), reinterpret_cast<uintptr_t>(context));
      tPendingLine = prefix;
    }
    tPendingLine += message;
  } else {
    tPendingLine += message;
  }
  size_t end;
  while ((end = tPendingLine.find('\n')) != std::string::npos) {
    std::string line = tPendingLine.substr(0, end);
    tPendingLine.erase(0, end + 1);
    // Never let a handler's exception unwind through the library's C frames.
    try {
      GlobalLogger().LibraryLog(CurrentThreadId(), level, line);
    } catch (...) {
    }
  }
}

std::string FormatErrorMessage(const std::string& AFileName, int AErrorCode) {
  const char* text = nullptr;
  switch (AErrorCode) {
    case -1163346256:  // also today's AVERROR_PATCHWELCOME
      text = "Not yet implemented in FFmpeg";
      break;
    case -10043:
    case AVERROR_PROTOCOL_NOT_FOUND:
      text = "Unsupported network protocol";
      break;
    case -42:
    case AVERROR_DEMUXER_NOT_FOUND:
      text = "Unknown format";
      break;
    case -33:
      text = "Number syntax expected in filename";
      break;
    case -32:
    case AVERROR_EOF:
      text = "End of file";
      break;
    case -22:  // AVERROR(EINVAL)
    case AVERROR_INVALIDDATA:
      text = "Invalid data found when processing input";
      break;
    case -12:  // AVERROR(ENOMEM)
      text = "Not enough memory";
      break;
    case -5:  // AVERROR(EIO)
      text = "I/O error";
      break;
    case -2:  // AVERROR(ENOENT)
      text = "No such file or directory";
      break;
  }
  if (text) return AFileName + ": " + text;
  char buffer[64];
  snprintf(buffer, sizeof buffer, "Error number %d occurred", AErrorCode);
  return AFileName + ": " + buffer;
}

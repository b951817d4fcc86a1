// The process's one logger: engine messages and FFmpeg's own log output, filtered by one
// level and delivered line by line to OnLog (on the main thread by default).
#pragma once

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "media/media_component.h"

enum TLogLevel : uint8_t {
  llQuiet,
  llPanic,
  llFatal,
  llError,
  llWarning,
  llInfo,
  llVerbose,
  llDebug
};

// FFmpeg's numbering: (ordinal - 1) * 8, and back by truncating division, clamped.
int LogLevelToLibrary(TLogLevel level);
TLogLevel LibraryToLogLevel(int libraryLevel);

// The threshold the library callback applies (library numbering); starts at 32 (info) and
// changes only when a level is pushed into the library.
int LibraryLogLevel();

using TLogEvent = std::function<void(const void* Sender, uint32_t AThreadID, TLogLevel ALogLevel,
                                     const std::string& ALogMsg)>;

struct TLogInfo {
  const void* Sender = nullptr;
  uint32_t ThreadID = 0;
  TLogLevel LogLevel = llInfo;
  std::string Msg;
};

class TMediaLogger : public TMediaComponent {
 public:
  // Throws std::runtime_error("Allow creating only one instance of TMediaLogger.") when a
  // logger exists already.
  explicit TMediaLogger(TMediaComponent* owner = nullptr);
  ~TMediaLogger() override;

  TLogLevel LogLevel() const { return FLogLevel; }
  void SetLogLevel(TLogLevel level);
  // "quiet", "panic", "fatal", "error", "warning", "info", "verbose", "debug" (any case) or
  // a decimal library level. Throws std::invalid_argument for other text.
  void SetLogLevelByName(const std::string& name);

  // Assign on the main thread before engine threads run. Without a handler messages are
  // dropped (library lines are still assembled and consumed).
  TLogEvent OnLog;

  // Engine messages; callable from any thread.
  void Log(const void* Sender, TLogLevel ALogLevel, const std::string& ALogMsg);
  void LogFmt(const void* Sender, TLogLevel ALogLevel, const char* AFormat, ...)
      __attribute__((format(printf, 4, 5)));
  // One complete library line; the callback has already applied LibraryLogLevel.
  void LibraryLog(uint32_t AThreadID, int ALibraryLevel, const std::string& ALine);

  // Pushes LogLevel into the library; does nothing until the utility library is loaded.
  void ApplyLogLevel();
  // Routes library output through LogCallback. The loader calls it once the utility
  // library is loaded.
  void InstallLogCallback();

 private:
  bool Passes(TLogLevel level) const;
  void Deliver(TLogInfo info);

  TLogLevel FLogLevel = llInfo;
};

// The single logger; created on first use when the application made none.
TMediaLogger& GlobalLogger();

// The callback installed into FFmpeg: assembles output per thread into lines, each line
// beginning with "[class @ pointer]" when the message had a context.
void LogCallback(void* context, int level, const char* format, va_list args);

// "file: text" for a failed open, the text naming the library error code's condition.
std::string FormatErrorMessage(const std::string& AFileName, int AErrorCode);

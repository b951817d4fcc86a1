#include "media/logger.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <regex>
#include <thread>
#include <vector>

#include "media/ffmpeg_ptr.h"
#include "media/io_scheme.h"
#include "media/loader.h"
#include "media/main_thread.h"
#include "tests/support/test_support.h"

namespace {

struct Event {
  const void* sender;
  uint32_t thread;
  TLogLevel level;
  std::string msg;
};

// Collects OnLog events; restores the logger's state afterwards.
class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(GlobalLoader().LoadLibraries(ConverterLibraries)) << GlobalLoader().LastError();
    logger.SetLogLevel(llInfo);
    logger.TriggerEventInMainThread = true;
    logger.OnLog = [this](const void* s, uint32_t t, TLogLevel l, const std::string& m) {
      std::lock_guard lock(mutex);
      events.push_back({s, t, l, m});
    };
  }
  void TearDown() override {
    logger.OnLog = nullptr;
    logger.TriggerEventInMainThread = true;
    logger.SetLogLevel(llInfo);
  }
  std::vector<Event> Events() {
    std::lock_guard lock(mutex);
    return events;
  }

  TMediaLogger& logger = GlobalLogger();
  std::mutex mutex;
  std::vector<Event> events;
};

// A real FFmpeg object as the message's context, so the prefix is the library's own.
struct Context {
  AVCodecContextPtr ctx{avcodec_alloc_context3(nullptr)};
  void* get() { return ctx.get(); }
};

std::string HexOf(const void* p) {
  char text[32];
  snprintf(text, sizeof text, "%016llX",
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
  return text;
}

}  // namespace

TEST_F(LoggerTest, PartialLibraryLinesJoinWithTheFirstPrefix) {
  Context first, second;
  av_log(first.get(), AV_LOG_INFO, "part one, ");
  EXPECT_TRUE(Events().empty());
  av_log(second.get(), AV_LOG_INFO, "part %s\n", "two");
  auto got = Events();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].msg, "[NULL @ " + HexOf(first.get()) + "]part one, part two");
  EXPECT_EQ(got[0].sender, &logger);
  EXPECT_EQ(got[0].level, llInfo);
  EXPECT_EQ(got[0].thread, CurrentThreadId());
}

TEST_F(LoggerTest, TwoLineFeedsGiveTwoEventsAndKeepTheRest) {
  av_log(nullptr, AV_LOG_WARNING, "one\ntwo\nthree");
  auto got = Events();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].msg, "one");
  EXPECT_EQ(got[1].msg, "two");
  EXPECT_EQ(got[1].level, llWarning);
  av_log(nullptr, AV_LOG_WARNING, "\n");
  got = Events();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[2].msg, "three");
}

TEST_F(LoggerTest, LibraryMessagesAboveTheLevelAreDropped) {
  logger.SetLogLevel(llWarning);
  EXPECT_EQ(LibraryLogLevel(), AV_LOG_WARNING);
  av_log(nullptr, AV_LOG_INFO, "too chatty\n");
  av_log(nullptr, AV_LOG_ERROR, "kept\n");
  auto got = Events();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].msg, "kept");
}

TEST_F(LoggerTest, ThreadsAssembleTheirOwnLinesAndDeliverOnTheMainThread) {
  std::mutex step;
  std::condition_variable cv;
  int turn = 0;
  auto wait_turn = [&](int t) {
    std::unique_lock lock(step);
    cv.wait(lock, [&] { return turn == t; });
  };
  auto next = [&] {
    {
      std::lock_guard lock(step);
      ++turn;
    }
    cv.notify_all();
  };
  uint32_t idA = 0, idB = 0;
  std::vector<uint32_t> deliveredOn;
  logger.OnLog = [&](const void*, uint32_t t, TLogLevel, const std::string& m) {
    std::lock_guard lock(mutex);
    events.push_back({nullptr, t, llInfo, m});
    deliveredOn.push_back(CurrentThreadId());
  };
  std::atomic<int> done{0};
  std::thread a([&] {
    idA = CurrentThreadId();
    wait_turn(0);
    av_log(nullptr, AV_LOG_INFO, "A1 ");
    next();
    wait_turn(2);
    av_log(nullptr, AV_LOG_INFO, "A2\n");
    next();
    ++done;
  });
  std::thread b([&] {
    idB = CurrentThreadId();
    wait_turn(1);
    av_log(nullptr, AV_LOG_INFO, "B1 ");
    next();
    wait_turn(3);
    av_log(nullptr, AV_LOG_INFO, "B2\n");
    ++done;
  });
  while (done < 2) WaitForMainThreadCalls(std::chrono::milliseconds(20));
  a.join();
  b.join();
  auto got = Events();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].msg, "A1 A2");
  EXPECT_EQ(got[0].thread, idA);
  EXPECT_EQ(got[1].msg, "B1 B2");
  EXPECT_EQ(got[1].thread, idB);
  for (uint32_t t : deliveredOn) EXPECT_EQ(t, CurrentThreadId());
}

struct FilterCase {
  TLogLevel loggerLevel, messageLevel;
  bool delivered;
};

void PrintTo(const FilterCase& c, std::ostream* os) {
  *os << "logger " << int(c.loggerLevel) << " message " << int(c.messageLevel);
}

class LogFilterTest : public LoggerTest, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(LogFilterTest, LevelFilter) {
  const auto& c = GetParam();
  logger.SetLogLevel(c.loggerLevel);
  logger.Log(this, c.messageLevel, "message");
  logger.LogFmt(this, c.messageLevel, "%s %d", "formatted", 7);
  auto got = Events();
  if (!c.delivered) {
    EXPECT_TRUE(got.empty());
    return;
  }
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].sender, this);
  EXPECT_EQ(got[0].level, c.messageLevel);
  EXPECT_EQ(got[1].msg, "formatted 7");
}

INSTANTIATE_TEST_SUITE_P(
    Levels, LogFilterTest,
    ::testing::Values(FilterCase{llError, llWarning, false}, FilterCase{llError, llError, true},
                      FilterCase{llError, llVerbose, true}, FilterCase{llError, llDebug, false},
                      FilterCase{llQuiet, llVerbose, false}, FilterCase{llQuiet, llQuiet, true},
                      FilterCase{llInfo, llInfo, true}, FilterCase{llDebug, llDebug, true}));

TEST_F(LoggerTest, WithoutHandlerNothingIsDelivered) {
  logger.OnLog = nullptr;
  logger.Log(this, llQuiet, "dropped");
  av_log(nullptr, AV_LOG_ERROR, "consumed\n");
  EXPECT_TRUE(Events().empty());
}

TEST_F(LoggerTest, SetLogLevelByName) {
  struct {
    const char* name;
    TLogLevel level;
  } cases[] = {{"Warning", llWarning}, {"WARNING", llWarning}, {"warning", llWarning},
               {"quiet", llQuiet},     {"panic", llPanic},     {"fatal", llFatal},
               {"error", llError},     {"info", llInfo},       {"Verbose", llVerbose},
               {"debug", llDebug},     {"20", llError},        {"-100", llQuiet},
               {"-7", llPanic},        {"56", llDebug},        {"32", llInfo}};
  for (const auto& c : cases) {
    logger.SetLogLevel(c.level == llInfo ? llDebug : llInfo);
    logger.SetLogLevelByName(c.name);
    EXPECT_EQ(logger.LogLevel(), c.level) << c.name;
  }
  for (const char* bad : {"loud", "", "12abc"})
    EXPECT_THROW(logger.SetLogLevelByName(bad), std::invalid_argument) << bad;
}

TEST(LogLevelNumbers, ConvertBothWays) {
  EXPECT_EQ(LogLevelToLibrary(llQuiet), -8);
  EXPECT_EQ(LogLevelToLibrary(llDebug), 48);
  struct {
    int library;
    TLogLevel level;
  } cases[] = {{-9, llQuiet}, {-8, llQuiet}, {-7, llPanic}, {7, llPanic},  {8, llFatal},
               {15, llFatal}, {32, llInfo},  {39, llInfo},  {48, llDebug}, {1000, llDebug}};
  for (auto c : cases) EXPECT_EQ(LibraryToLogLevel(c.library), c.level) << c.library;
}

TEST_F(LoggerTest, LevelReachesTheLibraryOnlyOnceItIsLoaded) {
  GlobalLoader().UnloadLibraries(ConverterLibraries);
  av_log_set_level(AV_LOG_INFO);
  logger.SetLogLevel(llDebug);
  EXPECT_EQ(av_log_get_level(), AV_LOG_INFO);
  ASSERT_TRUE(GlobalLoader().LoadLibraries(ConverterLibraries));
  EXPECT_EQ(av_log_get_level(), AV_LOG_DEBUG);
  EXPECT_EQ(LibraryLogLevel(), AV_LOG_DEBUG);
}

TEST_F(LoggerTest, OnlyOneLoggerMayExist) {
  try {
    TMediaLogger second;
    FAIL() << "a second logger was created";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Allow creating only one instance of TMediaLogger.");
  }
  EXPECT_EQ(&GlobalLogger(), &logger);
}

TEST_F(LoggerTest, RealOpenFailureLogsThroughTheCallback) {
  logger.SetLogLevel(llDebug);
  const std::string missing = TestFolder() + "/missing.vob";
  AVFormatContext* ctx = nullptr;
  const int ret = OpenMediaInput(&ctx, missing, nullptr, nullptr);
  EXPECT_EQ(ret, AVERROR(ENOENT));
  EXPECT_EQ(ctx, nullptr);
  EXPECT_EQ(FormatErrorMessage(missing, ret), missing + ": No such file or directory");
  const std::regex prefixed(R"(^\[[A-Za-z]+ @ [0-9A-F]{16}\].*missing\.vob.*)");
  bool found = false;
  for (const auto& e : Events()) found |= std::regex_match(e.msg, prefixed);
  EXPECT_TRUE(found) << "no library line naming the file";
}

TEST(FormatErrorMessage, NamesTheCondition) {
  struct {
    int code;
    const char* text;
  } cases[] = {
      {-1163346256, "Not yet implemented in FFmpeg"},
      {AVERROR_PATCHWELCOME, "Not yet implemented in FFmpeg"},
      {-10043, "Unsupported network protocol"},
      {AVERROR_PROTOCOL_NOT_FOUND, "Unsupported network protocol"},
      {-42, "Unknown format"},
      {AVERROR_DEMUXER_NOT_FOUND, "Unknown format"},
      {-33, "Number syntax expected in filename"},
      {-32, "End of file"},
      {AVERROR_EOF, "End of file"},
      {-22, "Invalid data found when processing input"},
      {AVERROR(EINVAL), "Invalid data found when processing input"},
      {AVERROR_INVALIDDATA, "Invalid data found when processing input"},
      {-12, "Not enough memory"},
      {AVERROR(ENOMEM), "Not enough memory"},
      {-5, "I/O error"},
      {AVERROR(EIO), "I/O error"},
      {-2, "No such file or directory"},
      {AVERROR(ENOENT), "No such file or directory"},
      {-7, "Error number -7 occurred"},
      {0, "Error number 0 occurred"},
  };
  for (auto c : cases)
    EXPECT_EQ(FormatErrorMessage("a.mkv", c.code), std::string("a.mkv: ") + c.text) << c.code;
}

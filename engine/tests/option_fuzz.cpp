// libFuzzer target: option names and values through TCustomTranscoder::ParseOption, a
// sequence of them on one fresh transcoder, the way a job's option list reaches it.
//
// Input: lines "name=value" (the first "=" splits; a line without one is a name with an
// empty value), at most 64 of them. Refusals (exceptions) are the expected answer to bad
// input; a crash, a leak, a hang or undefined behaviour is a finding.
//
// Left out, because they act outside the parser rather than parse: "vhook" loads the
// library its value names, "loglevel" changes the process's logger, and a preset value
// with a "/" would read any file on the machine (a FIFO or /dev/zero blocks the reader).
//
//   bin/engine_option_fuzz -max_total_time=60 corpus/ tests/fuzz/engine_option_fuzz/
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

extern "C" {
#include <libavutil/log.h>
}

#include "engine/transcoder.h"
#include "media/logger.h"

namespace {

bool Skipped(const std::string& name, const std::string& value) {
  if (name == "vhook" || name == "loglevel") return true;
  const bool preset = name == "apre" || name == "vpre" || name == "spre" || name == "fpre";
  return preset && value.find('/') != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Messages are dropped (no OnLog handler); keep the library's own output quiet too.
  GlobalLogger().SetLogLevel(llQuiet);
  av_log_set_level(AV_LOG_QUIET);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  TCustomTranscoder transcoder;
  for (int count = 0; count < 64 && !rest.empty(); ++count) {
    const size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    const size_t equals = line.find('=');
    const std::string name(line.substr(0, equals));
    const std::string value(equals == std::string_view::npos ? std::string_view()
                                                             : line.substr(equals + 1));
    if (Skipped(name, value)) continue;
    try {
      transcoder.ParseOption(name, value);
    } catch (const std::exception&) {
      // a refusal: the next option goes to the same transcoder
    }
  }
  return 0;
}

#include "media/small_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

struct TFd {
  int Fd;
  ~TFd() {
    if (Fd >= 0) close(Fd);
  }
};

}  // namespace

std::optional<std::string> ReadSmallFile(const std::string& path, size_t maxBytes,
                                         std::string& reason, bool* missing) {
  // Non-blocking, so that opening a FIFO that has no writer returns at once.
  const TFd file{open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
  if (missing) *missing = file.Fd < 0 && (errno == ENOENT || errno == ENOTDIR);
  if (file.Fd < 0) {
    reason = std::strerror(errno);
    return std::nullopt;
  }
  struct stat st {};
  if (fstat(file.Fd, &st) != 0) {
    reason = std::strerror(errno);
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) {
    reason = "not a regular file";
    return std::nullopt;
  }
  const std::string tooLarge = "larger than " + std::to_string(maxBytes) + " bytes";
  if (uint64_t(st.st_size) > maxBytes) {
    reason = tooLarge;
    return std::nullopt;
  }
  std::string content;
  content.reserve(size_t(st.st_size));
  for (;;) {
    char buffer[16384];
    const ssize_t n = read(file.Fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      reason = std::strerror(errno);
      return std::nullopt;
    }
    // The file may grow while it is read.
    if (content.size() + size_t(n) > maxBytes) {
      reason = tooLarge;
      return std::nullopt;
    }
    content.append(buffer, size_t(n));
  }
  return content;
}

#include "media/file_stream.h"

extern "C" {
#include <libavutil/error.h>
}
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

class TFileStream : public TSchemeStream {
 public:
  explicit TFileStream(int fd) : Fd(fd) {}
  ~TFileStream() override { close(Fd); }

  int Read(uint8_t* buffer, int size) override {
    for (;;) {
      ssize_t got = read(Fd, buffer, size_t(size));
      if (got >= 0) return int(got);
      if (errno != EINTR) return AVERROR(errno);
    }
  }
  int64_t Seek(int64_t offset, int whence) override {
    off_t at = lseek(Fd, offset, whence);
    return at < 0 ? AVERROR(errno) : at;
  }
  int64_t Size() override {
    struct stat st;
    return fstat(Fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
  }

 private:
  int Fd;
};

}  // namespace

std::unique_ptr<TSchemeStream> OpenFileStream(const std::string& path, int& error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = AVERROR(errno);
    return nullptr;
  }
  return std::make_unique<TFileStream>(fd);
}

#include "services/scratch_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace marklode {

ScratchFile::ScratchFile(std::string_view dir) {
  const std::string folder = dir.empty() ? std::string(".") : std::string(dir);
#if defined(O_TMPFILE)
  fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ >= 0) return;
#endif
  // File systems without unnamed files: a named one, unnamed at once.
  std::string name = folder + "/.marklode-scratch-XXXXXX";
  fd_ = ::mkstemp(name.data());
  if (fd_ < 0) return;
  ::unlink(name.c_str());
  ::fcntl(fd_, F_SETFD, FD_CLOEXEC);
}

ScratchFile::~ScratchFile() {
  if (fd_ >= 0) ::close(fd_);
}

int ScratchFile::Write(std::string_view bytes) {
  if (fd_ < 0) return EBADF;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(size_ + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    done += static_cast<std::size_t>(n);
  }
  size_ += done;
  return 0;
}

std::size_t ScratchFile::Read(char* buf, std::size_t n, int& err) {
  if (fd_ < 0 || read_ >= size_) return 0;
  if (n > size_ - read_) n = static_cast<std::size_t>(size_ - read_);
  for (;;) {
    const ssize_t got = ::pread(fd_, buf, n, static_cast<off_t>(read_));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      err = got < 0 ? errno : EIO;  // shorter than what was written
      return 0;
    }
    read_ += static_cast<std::uint64_t>(got);
    return static_cast<std::size_t>(got);
  }
}

}  // namespace marklode

#include "services/text_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "services/platform.h"

namespace marklode {

std::string ErrorDescription(int err) {
  switch (err) {
    case ENOENT:
      return "File not found";
    case ENOSPC:
      return "Disk full";
    case EACCES:
    case EPERM:
      return "Permission denied";
    case EISDIR:
      return "Is a folder, not a file";
    default:
      return std::strerror(err);
  }
}

std::size_t MemorySource::Read(char* buf, std::size_t cap) {
  std::size_t n = std::min(cap, data_.size() - pos_);
  std::memcpy(buf, data_.data() + pos_, n);
  pos_ += n;
  return n;
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool InputFile::Open(const std::string& path) {
  path_ = path;
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  int err = 0;
  if (fd_ < 0) {
    err = errno;
  } else if (::fstat(fd_, &st) != 0) {
    err = errno;
  } else if (S_ISDIR(st.st_mode)) {
    err = EISDIR;
  } else {
    size_t size = S_ISREG(st.st_mode) ? st.st_size : 0;
    size_ = size;
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    return true;
  }
  ShowWarning(sink_, title_, ErrorDescription(err), path);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  failed_ = true;
  return false;
}

bool InputFile::Seek(std::uint64_t offset) {
  return fd_ >= 0 && ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

std::size_t InputFile::Read(char* buf, std::size_t cap) {
  if (fd_ < 0) return 0;
  for (;;) {
    ssize_t n = ::read(fd_, buf, cap);
    if (n > 0) return static_cast<std::size_t>(n);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ShowWarning(sink_, title_, ErrorDescription(errno), path_);
      failed_ = true;
    }
    ::close(fd_);
    fd_ = -1;
    return 0;
  }
}

namespace {
constexpr std::size_t kWriteBuffer = 256 * 1024;

bool WriteAll(int fd, const char* p, std::size_t n, int& err) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}
}  // namespace

// Writes chunks straight to the descriptor, on whichever thread hands them
// over, so the text is still in that core's cache when the kernel copies it.
// The first error stops the writing and is kept for the owner to report:
// messages belong to the owner's thread.
class OutputFile::DirectChunks : public ChunkSink {
 public:
  explicit DirectChunks(int fd) : fd_(fd), end_(::lseek(fd, 0, SEEK_CUR)) {
    if (end_ < 0) err_ = errno;
  }
  bool Submit(ByteBuffer& chunk) override {
    if (err_ == 0) {
      Reserve(end_ + static_cast<off_t>(chunk.size()));
      if (WriteAll(fd_, chunk.data(), chunk.size(), err_)) end_ += static_cast<off_t>(chunk.size());
    }
    chunk.clear();
    return err_ == 0;
  }
  // Gives back the space reserved beyond the text; returns the first error, or 0.
  int Finish() {
    if (err_ == 0 && reserved_ > end_ && ::ftruncate(fd_, end_) != 0) err_ = errno;
    return err_;
  }

 private:
  // A big output reserves its disk space ahead, in large steps: the file
  // system then only maps each page written, which makes writing a quarter
  // cheaper. Where that fails the writes go on without.
  void Reserve(off_t need) {
#if defined(__linux__)
    constexpr off_t kStep = 32 << 20;
    if (need <= reserved_ || !reserving_ || need <= kStep / 4) return;  // small outputs: never
    if (::fallocate(fd_, 0, end_, need + kStep - end_) == 0) {
      reserved_ = need + kStep;
    } else {
      reserving_ = false;
    }
#else
    (void)need;
#endif
  }

  const int fd_;
  off_t end_;           // of the text written
  off_t reserved_ = 0;  // the file's length while space is reserved ahead
  bool reserving_ = true;
  int err_ = 0;
};

void ByteBuffer::Grow(std::size_t more) {
  const std::size_t cap = std::max({cap_ * 2, size_ + more, std::size_t{4096}});
  auto bigger = std::make_unique_for_overwrite<char[]>(cap);
  if (size_ > 0) std::memcpy(bigger.get(), data_.get(), size_);
  data_ = std::move(bigger);
  cap_ = cap;
}

OutputFile::OutputFile(MessageSink& sink, std::string target, std::string title)
    : sink_(sink), target_(std::move(target)), title_(std::move(title)) {}

OutputFile::~OutputFile() {
  Discard();
}

void OutputFile::Fail(int err) {
  ShowWarning(sink_, title_, ErrorDescription(err), target_);
}

bool OutputFile::OpenTemp() {
  if (fd_ >= 0) return true;
  if (!temp_.empty()) {  // parked: reopen and go on appending
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd_ < 0) {
      Fail(errno);
      return false;
    }
    return true;
  }
  // The temporary sits beside the target so that the final rename stays on one
  // file system and is atomic; a hidden name keeps it out of directory lookups.
  std::string dir(DirectoryPart(target_));
  std::string name(FileNamePart(target_));
  std::string tmpl = dir + "." + name + ".marklode-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  int fd = ::mkostemp(buf.data(), O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    if (err == ENOENT) {  // the folder of the target is missing
      ShowWarning(sink_, title_, "Path not found", target_);
    } else {
      Fail(err);
    }
    return false;
  }
  // mkstemp makes the file private; give it what a new file would get, or the
  // mode of the file it replaces.
  struct stat st;
  mode_t mode;
  if (::stat(target_.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::fchmod(fd, mode);
  fd_ = fd;
  temp_.assign(buf.data());
  buf_.Reserve(kWriteBuffer);
  return true;
}

bool OutputFile::Flush() {
  if (buf_.empty()) return true;
  int err = 0;
  if (fd_ < 0 || !WriteAll(fd_, buf_.data(), buf_.size(), err)) {
    buf_.clear();
    broken_ = true;
    Fail(err ? err : EBADF);
    return false;
  }
  buf_.clear();
  return true;
}

bool OutputFile::Write(std::string_view text) {
  if (broken_) return false;
  if (!OpenTemp()) return false;
  if (buf_.size() + text.size() > kWriteBuffer) {
    if (!Flush()) return false;
    if (text.size() > kWriteBuffer) {
      int err = 0;
      if (!WriteAll(fd_, text.data(), text.size(), err)) {
        broken_ = true;
        Fail(err);
        return false;
      }
      return true;
    }
  }
  buf_.Append(text);
  return true;
}

ChunkSink* OutputFile::Chunks() {
  if (broken_ || !OpenTemp()) return nullptr;
  if (!Flush()) return nullptr;  // what came before goes first
  if (!chunks_) chunks_ = std::make_unique<DirectChunks>(fd_);
  return chunks_.get();
}

// Takes back the chunk sink; false (reported once) when a chunk failed.
bool OutputFile::EndChunks() {
  if (!chunks_) return !broken_;
  const int err = chunks_->Finish();
  chunks_.reset();
  if (err != 0 && !broken_) {
    broken_ = true;
    Fail(err);
  }
  return !broken_;
}

bool OutputFile::Park() {
  if (fd_ < 0) return !broken_;
  bool ok = Flush();
  ok = EndChunks() && ok;
  ::close(fd_);
  fd_ = -1;
  buf_ = ByteBuffer();
  return ok;
}

bool OutputFile::Commit() {
  if (temp_.empty()) return false;
  bool ok = !broken_ && Flush();
  ok = EndChunks() && ok;
  if (fd_ >= 0) {
    if (::close(fd_) != 0 && ok) {
      Fail(errno);
      ok = false;
    }
    fd_ = -1;
  }
  if (ok && ::rename(temp_.c_str(), target_.c_str()) != 0) {
    Fail(errno);
    ok = false;
  }
  if (!ok) ::unlink(temp_.c_str());
  temp_.clear();
  return ok;
}

void OutputFile::Discard() {
  chunks_.reset();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  buf_.clear();
}

bool SysPutTextFile(MessageSink& sink, const std::string& path, std::string_view text) {
  OutputFile out(sink, path, "SYSputTextLine");
  if (!out.Write(text) || !out.Write("\r\n")) return false;
  return out.Commit();
}

}  // namespace marklode

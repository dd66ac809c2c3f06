#include "services/text_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

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

// Writes whole chunks to one descriptor, in order, on its own thread. At most
// kQueued chunks wait, so memory stays bounded however fast they come; emptied
// buffers go back to the caller with their capacity. The first error stops the
// writing and is kept for the caller to report: messages belong to the caller's
// thread.
class OutputFile::Background : public ChunkSink {
 public:
  explicit Background(int fd) : fd_(fd), thread_([this] { Run(); }) {}
  ~Background() override { Stop(); }

  // false when an earlier chunk failed (chunk is then dropped).
  bool Submit(ByteBuffer& chunk) override {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return queue_.size() < kQueued || err_ != 0; });
    if (err_ != 0) {
      chunk.clear();
      return false;
    }
    queue_.push_back(std::move(chunk));
    chunk = ByteBuffer();
    if (!spare_.empty()) {
      chunk = std::move(spare_.back());
      spare_.pop_back();
    }
    changed_.notify_all();
    return true;
  }

  // Writes what is queued, ends the thread and returns the first error (0).
  int Stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      changed_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    return err_;
  }

 private:
  static constexpr std::size_t kQueued = 2;

  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return !queue_.empty() || stopping_; });
      if (queue_.empty()) return;
      ByteBuffer chunk = std::move(queue_.front());
      queue_.pop_front();
      if (err_ == 0) {
        lock.unlock();
        int err = 0;
        WriteAll(fd_, chunk.data(), chunk.size(), err);
        lock.lock();
        err_ = err;
      }
      chunk.clear();
      spare_.push_back(std::move(chunk));
      changed_.notify_all();
    }
  }

  const int fd_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<ByteBuffer> queue_;
  std::vector<ByteBuffer> spare_;
  bool stopping_ = false;
  int err_ = 0;
  std::thread thread_;  // last: starts once the rest is ready
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
  if (background_) return Submit(buf_);
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
    if (text.size() > kWriteBuffer && !background_) {
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

bool OutputFile::WriteChunk(ByteBuffer& chunk) {
  if (broken_) {
    chunk.clear();
    return false;
  }
  if (!OpenTemp()) {
    chunk.clear();
    return false;
  }
  if (!background_ && chunk.size() < kWriteBuffer) {  // small: no thread for it
    const bool ok = Write(chunk.view());
    chunk.clear();
    return ok;
  }
  if (!buf_.empty() && !Flush()) {  // what came before goes first
    chunk.clear();
    return false;
  }
  if (!background_) background_ = std::make_unique<Background>(fd_);
  return Submit(chunk);
}

bool OutputFile::Submit(ByteBuffer& chunk) {
  if (background_->Submit(chunk)) return true;
  StopBackground();
  return false;
}

ChunkSink* OutputFile::Chunks() {
  if (broken_ || !OpenTemp()) return nullptr;
  if (!buf_.empty() && !Flush()) return nullptr;  // what came before goes first
  if (!background_) background_ = std::make_unique<Background>(fd_);
  return background_.get();
}

// Ends the writing thread; false (reported once) when a chunk failed.
bool OutputFile::StopBackground() {
  if (!background_) return !broken_;
  const int err = background_->Stop();
  background_.reset();
  if (err != 0 && !broken_) {
    broken_ = true;
    Fail(err);
  }
  return !broken_;
}

bool OutputFile::Park() {
  if (fd_ < 0) return !broken_;
  bool ok = Flush();
  ok = StopBackground() && ok;
  ::close(fd_);
  fd_ = -1;
  buf_ = ByteBuffer();
  return ok;
}

bool OutputFile::Commit() {
  if (temp_.empty()) return false;
  bool ok = !broken_ && Flush();
  ok = StopBackground() && ok;
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
  if (background_) background_->Stop();
  background_.reset();
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

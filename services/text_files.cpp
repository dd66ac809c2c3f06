#include "services/text_files.h"

#include <fcntl.h>
#include <sys/file.h>
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
  broken_ = true;
  if (reported_) return;  // one warning per output, however many records it loses
  reported_ = true;
  if (err == ENOENT && temp_.empty()) {  // the folder of the target is missing
    ShowWarning(sink_, title_, "Path not found", target_);
  } else {
    ShowWarning(sink_, title_, ErrorDescription(err), target_);
  }
}

void OutputFile::GiveUp(int err) {
  Fail(err);
}

namespace {

constexpr int kTempSlots = 4;  // runs that may write one target at the same time
constexpr std::size_t kTempNameBytes = 32;

bool ShortOfDescriptors(int err) {
  return err == EMFILE || err == ENFILE;
}

// Whether fd is still the file that path names: a file removed or replaced
// after it was opened belongs to nobody.
bool StillNamed(int fd, const std::string& path) {
  struct stat a, b;
  return ::fstat(fd, &a) == 0 && ::lstat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

}  // namespace

std::string TemporaryStem(std::string_view target) {
  const std::string_view name = FileNamePart(target);
  std::uint64_t h = 14695981039346656037ull;  // FNV-1a
  for (char c : name) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  std::size_t keep = std::min(name.size(), kTempNameBytes);
  while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
    --keep;  // never cut a UTF-8 sequence
  static constexpr char kHex[] = "0123456789abcdef";
  std::string stem(DirectoryPart(target));
  stem += '.';
  stem.append(name.substr(0, keep));
  stem += '.';
  for (int shift = 60; shift >= 0; shift -= 4) stem += kHex[(h >> shift) & 15];
  stem += ".marklode-";
  return stem;
}

// The temporary sits beside the target so that the final rename stays on one
// file system and is atomic; a hidden name keeps it out of directory lookups.
// Of the few slots a target has, the first one no running process holds is
// taken; the others that nobody holds were left by killed runs and go.
int OutputFile::CreateTemp() {
  const std::string stem = TemporaryStem(target_);
  int chosen = -1;
  std::string chosenPath;
  for (int n = 0; n < kTempSlots; ++n) {
    std::string path = stem + static_cast<char>('0' + n);
    const bool sweeping = chosen >= 0;
    const int flags = (sweeping ? O_RDONLY : O_RDWR | O_CREAT) | O_NOFOLLOW | O_CLOEXEC;
    const int fd = ::open(path.c_str(), flags, 0600);
    if (fd < 0) {
      if (sweeping || errno == ELOOP) continue;  // a link at the name is nobody's temporary
      return errno;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !StillNamed(fd, path)) {
      ::close(fd);  // a running process writes it
      continue;
    }
    if (sweeping) {
      ::unlink(path.c_str());
      ::close(fd);
      continue;
    }
    // A leftover is emptied; a new file is left alone, since ext4 flushes a
    // file that was truncated to nothing when it is closed, which would cost
    // a big output its write-back to disk before the rename.
    struct stat left;
    if ((::fstat(fd, &left) != 0 || left.st_size != 0) && ::ftruncate(fd, 0) != 0) {
      const int err = errno;
      ::unlink(path.c_str());
      ::close(fd);
      return err;
    }
    chosen = fd;
    chosenPath = std::move(path);
  }
  if (chosen < 0) return EBUSY;
  // Give it what a new file would get, or the permissions of the file it
  // replaces; never set-user-ID, set-group-ID or sticky.
  struct stat st;
  mode_t mode;
  if (::stat(target_.c_str(), &st) == 0) {
    mode = st.st_mode & 0777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::fchmod(chosen, mode);
  fd_ = chosen;
  temp_ = std::move(chosenPath);
  return 0;
}

// A parked temporary is unlocked: it is ours again only when still named and
// as long as it was, else another run took it over.
int OutputFile::Reopen() {
  const int fd = ::open(temp_.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !StillNamed(fd, temp_) || ::fstat(fd, &st) != 0 ||
      static_cast<std::uint64_t>(st.st_size) != parkedSize_) {
    ::close(fd);
    temp_.clear();  // not ours to remove any more
    return EBUSY;
  }
  fd_ = fd;
  return 0;
}

int OutputFile::Open() {
  if (fd_ >= 0) return 0;
  if (broken_) return EIO;
  const int err = temp_.empty() ? CreateTemp() : Reopen();
  if (err == 0) {
    buf_.Reserve(kWriteBuffer);
  } else if (!ShortOfDescriptors(err)) {
    Fail(err);
  }
  return err;
}

bool OutputFile::OpenTemp() {
  if (fd_ >= 0) return true;
  const int err = Open();
  if (err != 0 && ShortOfDescriptors(err)) Fail(err);
  return err == 0;
}

bool OutputFile::Flush() {
  if (buf_.empty()) return true;
  int err = 0;
  if (fd_ < 0 || !WriteAll(fd_, buf_.data(), buf_.size(), err)) {
    buf_.clear();
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
  if (err != 0 && !broken_) Fail(err);
  return !broken_;
}

bool OutputFile::Park() {
  if (fd_ < 0) return !broken_;
  bool ok = Flush();
  ok = EndChunks() && ok;
  struct stat st;
  parkedSize_ = ::fstat(fd_, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
  ::close(fd_);
  fd_ = -1;
  buf_ = ByteBuffer();
  return ok;
}

// The temporary stays open, and so locked, until it has its final name: no
// other run may take it over between the last write and the rename.
bool OutputFile::Commit() {
  if (temp_.empty()) return false;
  bool ok = !broken_ && Flush();
  ok = EndChunks() && ok;
  if (ok && fd_ < 0) {  // parked: take it back for the rename
    const int err = Reopen();
    if (err != 0 && !ShortOfDescriptors(err)) {
      Fail(err);
      ok = false;
    }
  }
  int hold = -1;
  if (fd_ >= 0) {
    hold = ok ? ::dup(fd_) : -1;  // keeps the lock while the close is checked
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
  if (!ok && !temp_.empty()) ::unlink(temp_.c_str());
  if (hold >= 0) ::close(hold);
  temp_.clear();
  return ok;
}

void OutputFile::Discard() {
  chunks_.reset();
  if (fd_ < 0 && !temp_.empty()) Reopen();  // a parked one may have been taken over
  if (!temp_.empty()) ::unlink(temp_.c_str());
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  temp_.clear();
  buf_.clear();
}

bool SysPutTextFile(MessageSink& sink, const std::string& path, std::string_view text) {
  OutputFile out(sink, path, "SYSputTextLine");
  if (!out.Write(text) || !out.Write("\r\n")) return false;
  return out.Commit();
}

}  // namespace marklode

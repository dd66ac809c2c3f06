// The system interface on POSIX: descriptors, flock for the temporaries'
// locks, rename for the atomic replacement.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "services/console.h"
#include "services/os.h"
#include "services/platform.h"
#include "services/settings.h"

namespace marklode::os {

namespace {

int Fd(File file) {
  return static_cast<int>(file);
}

Kind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return Kind::Regular;
  if (S_ISDIR(mode)) return Kind::Folder;
  if (S_ISFIFO(mode)) return Kind::Pipe;
  if (S_ISSOCK(mode)) return Kind::Socket;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return Kind::Device;
  return Kind::Other;
}

FileInfo InfoOf(const struct stat& st) {
  FileInfo info;
  info.kind = KindOf(st.st_mode);
  if (info.kind == Kind::Regular) info.size = static_cast<std::uint64_t>(st.st_size);
  return info;
}

// Whether fd is still the file that path names: a file removed or replaced
// after it was opened belongs to nobody.
bool StillNamed(int fd, const std::string& path) {
  struct stat a, b;
  return ::fstat(fd, &a) == 0 && ::lstat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

}  // namespace

bool ShortOfHandles(Error err) {
  return err == EMFILE || err == ENFILE;
}

std::size_t OpenFileLimit() {
  struct rlimit r;
  if (::getrlimit(RLIMIT_NOFILE, &r) != 0) return 256;  // what any system allows
  return r.rlim_cur == RLIM_INFINITY ? SIZE_MAX : static_cast<std::size_t>(r.rlim_cur);
}

void RaiseOpenFileLimit() {
  struct rlimit r;
  if (::getrlimit(RLIMIT_NOFILE, &r) != 0 || r.rlim_cur == r.rlim_max) return;
  // An unlimited hard limit is no number the kernel takes: a million is
  // plenty, and halving finds what it allows.
  rlim_t want = r.rlim_max == RLIM_INFINITY ? rlim_t{1} << 20 : r.rlim_max;
  for (; want > r.rlim_cur; want /= 2) {
    struct rlimit raised = {want, r.rlim_max};
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) return;
  }
}

std::string ErrorText(Error err) {
  // The usual ones in shorter words than the C library's.
  switch (err) {
    case ENOENT:
      return "File not found";
    case ENOSPC:
      return "Disk full";
    case EACCES:
    case EPERM:
      return "Permission denied";
  }
  return std::strerror(err);
}

FileInfo Stat(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return {};
  return InfoOf(st);
}

Error OpenForReading(const std::string& path, File& file, FileInfo& info, bool mayBlock) {
  file = kNoFile;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (mayBlock ? 0 : O_NONBLOCK));
  if (fd < 0) return errno;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    return err;
  }
  info = InfoOf(st);
  if (info.kind == Kind::Folder) {
    ::close(fd);
    return EISDIR;
  }
#ifdef POSIX_FADV_SEQUENTIAL
  if (info.kind == Kind::Regular) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  file = fd;
  return 0;
}

Error ReadSome(File file, char* buf, std::size_t cap, std::size_t& got) {
  for (;;) {
    const ssize_t n = ::read(Fd(file), buf, cap);
    if (n < 0 && errno == EINTR) continue;
    got = n > 0 ? static_cast<std::size_t>(n) : 0;
    return n < 0 ? errno : 0;
  }
}

Error SeekTo(File file, std::uint64_t offset) {
  return ::lseek(Fd(file), static_cast<off_t>(offset), SEEK_SET) < 0 ? errno : 0;
}

Error WriteAll(File file, const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(Fd(file), p, n);
    if (w < 0) {
      // A device or pipe is written without blocking (see OpenDevice): while
      // nobody reads, the wait checks for a request to stop, whichever of the
      // program's threads the signal reached.
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        struct pollfd out = {Fd(file), POLLOUT, 0};
        ::poll(&out, 1, 200);
      } else if (errno != EINTR) {
        return errno;
      }
      if (Interrupted()) return EINTR;
      continue;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return 0;
}

Error WriteAt(File file, const char* p, std::size_t n, std::uint64_t offset) {
  while (n > 0) {
    const ssize_t w = ::pwrite(Fd(file), p, n, static_cast<off_t>(offset));
    if (w < 0 && errno == EINTR && !Interrupted()) continue;
    if (w <= 0) return w < 0 ? errno : ENOSPC;
    p += w;
    n -= static_cast<std::size_t>(w);
    offset += static_cast<std::uint64_t>(w);
  }
  return 0;
}

Error ReadAt(File file, char* buf, std::size_t cap, std::uint64_t offset, std::size_t& got) {
  for (;;) {
    const ssize_t n = ::pread(Fd(file), buf, cap, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    got = n > 0 ? static_cast<std::size_t>(n) : 0;
    return n < 0 ? errno : 0;
  }
}

Error SizeOf(File file, std::uint64_t& size) {
  struct stat st;
  if (::fstat(Fd(file), &st) != 0) return errno;
  size = static_cast<std::uint64_t>(st.st_size);
  return 0;
}

Error Truncate(File file, std::uint64_t size) {
  return ::ftruncate(Fd(file), static_cast<off_t>(size)) != 0 ? errno : 0;
}

bool Reserve(File file, std::uint64_t from, std::uint64_t n) {
#if defined(__linux__)
  return ::fallocate(Fd(file), 0, static_cast<off_t>(from), static_cast<off_t>(n)) == 0;
#else
  (void)file, (void)from, (void)n;
  return false;
#endif
}

Error Close(File file) {
  return ::close(Fd(file)) != 0 ? errno : 0;
}

void Remove(const std::string& path) {
  ::unlink(path.c_str());
}

bool CanAppendTo(const std::string& path) {
  // Not blocking: a pipe without a reader must not hang the caller, and is
  // written through when a reader comes.
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 && errno == ENXIO && Stat(path).kind == Kind::Pipe) return true;
  if (fd < 0 && errno == ENOENT) {
    // Exclusive, so that only a file made here is removed again.
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) ::unlink(path.c_str());
  }
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool ReadOnlyFile(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // Nobody may write it, root included: the mark a user sets with chmod a-w,
  // as the read-only attribute is on Windows. (A file only others may write,
  // in a folder this user may write, is replaced as editors replace it.)
  return (st.st_mode & 0222) == 0;
}

Error OpenDevice(const std::string& path, File& file) {
  file = kNoFile;
  int fd;
  // A pipe waits here for its reader; a signal ends the wait, and only one
  // that asks to stop ends it for good.
  while ((fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC)) < 0 && errno == EINTR)
    if (Interrupted()) return EINTR;
  if (fd < 0) return errno;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return EBUSY;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);  // WriteAll waits, and listens
  file = fd;
  return 0;
}

bool RandomBytes(void* p, std::size_t n) {
  auto* out = static_cast<unsigned char*>(p);
  while (n > 0) {
    const ssize_t got = ::getrandom(out, n, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

namespace {
FileId IdOf(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}
}  // namespace

Error CreateTemporary(const std::string& stem, std::string& path, File& file, FileId& id) {
  file = kNoFile;
  // 64 random bits: a name nobody can place anything at ahead of the run.
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = stem;
    if (!AppendRandomHex(path, 8)) return errno ? errno : EIO;
    // Exclusive and not through a link: whatever sits at the name, a file,
    // a link or a pipe, is somebody else's.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return errno;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      ::unlink(path.c_str());
      ::close(fd);
      return err;
    }
    id = IdOf(st);
    file = fd;
    return 0;
  }
  return EEXIST;
}

void RemoveStale(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
      st.st_uid != ::geteuid())
    return;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat now;
  if (::fstat(fd, &now) == 0 && IdOf(now) == IdOf(st) && now.st_nlink == 1 &&
      ::flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(fd, path))
    ::unlink(path.c_str());
  ::close(fd);
}

// A parked temporary is unlocked: it is ours again only when the same file
// still has its name, with nothing added, else another run took it over or
// something else was put there.
Error ReopenTemporary(const std::string& path, const FileId& id, std::uint64_t size, File& file) {
  file = kNoFile;
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ELOOP || errno == ENXIO ? EBUSY : errno;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || IdOf(st) != id || st.st_nlink != 1 ||
      static_cast<std::uint64_t>(st.st_size) != size || ::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
      !StillNamed(fd, path)) {
    ::close(fd);
    return EBUSY;
  }
  ::fcntl(fd, F_SETFL, O_APPEND);  // writes wait again
  file = fd;
  return 0;
}

TargetState InspectTarget(const std::string& path) {
  TargetState t;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return t;  // one lookup for a new target
  const bool link = S_ISLNK(st.st_mode);
  if (link && ::stat(path.c_str(), &st) != 0) return t;  // a dangling link
  t.kind = KindOf(st.st_mode);
  t.mode = st.st_mode & 0777;
  t.readOnly = !link && t.kind == Kind::Regular && (t.mode & 0222) == 0;  // as ReadOnlyFile
  return t;
}

namespace {
// The process's file creation mask, read once: reading it means setting it.
mode_t CreationMask() {
  static const mode_t mask = [] {
    const mode_t m = ::umask(0);
    ::umask(m);
    return m;
  }();
  return mask;
}
}  // namespace

// What a new file would get, or the permissions of the file replaced; never
// set-user-ID, set-group-ID or sticky.
void MatchPermissions(File file, const TargetState& target) {
  const mode_t mode = target.kind != Kind::Missing ? target.mode : 0666 & ~CreationMask();
  ::fchmod(Fd(file), mode);
}

// The lock is kept, through a second descriptor, until the temporary has its
// final name or none: no other run may take it over between the last write
// and the rename.
Error ReplaceTarget(File file, const std::string& temporary, const std::string& target) {
  const int hold = file == kNoFile ? -1 : ::dup(Fd(file));
  Error err = file != kNoFile && ::close(Fd(file)) != 0 ? errno : 0;
  if (err == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) err = errno;
  if (err != 0) ::unlink(temporary.c_str());
  if (hold >= 0) ::close(hold);
  return err;
}

// Unnamed first: the lock is held until the name is gone.
void RemoveTemporary(File file, const std::string& path) {
  ::unlink(path.c_str());
  if (file != kNoFile) ::close(Fd(file));
}

Error CreateScratch(const std::string& dir, File& file) {
  const std::string folder = dir.empty() ? std::string(".") : dir;
  file = kNoFile;
  int fd;
#if defined(O_TMPFILE)
  fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) {
    file = fd;
    return 0;
  }
#endif
  // File systems without unnamed files: a named one, unnamed at once.
  std::string name = folder + "/.marklode-scratch-XXXXXX";
  fd = ::mkstemp(name.data());
  if (fd < 0) return errno;
  ::unlink(name.c_str());
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  file = fd;
  return 0;
}

bool ListFolder(const std::string& dir, bool withHidden,
                const std::function<void(std::string_view, Kind)>& found, bool everything) {
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return false;
  std::string path = dir;
  while (dirent* e = ::readdir(d)) {
    const std::string_view name = e->d_name;
    if (name == "." || name == ".." || (name[0] == '.' && !withHidden && !everything)) continue;
    // The entry's own type spares a stat per file; links are followed.
    Kind kind = e->d_type == DT_REG   ? Kind::Regular
                : e->d_type == DT_DIR ? Kind::Folder
                                      : Kind::Other;
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      path.resize(dir.size());
      path.append(name);
      kind = Stat(path).kind;
    }
    found(name, kind);
  }
  ::closedir(d);
  return true;
}

std::string StoredName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SameFileId(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

void CreateFolders(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
}

std::string ProgramPath() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.string();
}

std::string CurrentDirectory() {
  std::error_code ec;
  std::string cwd = std::filesystem::current_path(ec).string();
  return ec ? std::string(".") : cwd;
}

bool ChangeDirectory(const std::string& path) {
  return ::chdir(path.c_str()) == 0;
}

std::vector<std::string> Arguments(int argc, char** argv) {
  return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

std::string Environment(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

void* MapZeroed(std::size_t bytes) {
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

void Unmap(void* p, std::size_t bytes) {
  ::munmap(p, bytes);
}

void AdviseHugePages(void* p, std::size_t bytes) {
#if defined(MADV_HUGEPAGE)
  ::madvise(p, bytes, MADV_HUGEPAGE);  // only a hint
#else
  (void)p, (void)bytes;
#endif
}

std::unique_ptr<SettingsStore> UserSettings() {
  return std::make_unique<FileSettingsStore>(FileSettingsStore::DefaultPath());
}

}  // namespace marklode::os

// Case-blind folders, with the Linux headers that only they need.
#ifdef __linux__
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#endif

namespace marklode::os {

namespace {

// Whether the upper-case twin of a lower-case name finds the file: a hidden
// file created (exclusively) in the folder for the question and removed at
// once. Asked of the folder itself because file numbers cannot tell: a FUSE
// file system may give the two names different ones.
bool TwinFindsProbe(int dirFd) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::string name = ".marklode-case-probe-";  // a name nobody can place anything at first
    if (!AppendRandomHex(name, 8)) return false;
    std::string twin = name;
    for (char& c : twin)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    struct stat st;
    if (::fstatat(dirFd, twin.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) continue;  // not ours
    const int fd =
        ::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;  // not writable: no output can be made there either
    }
    ::close(fd);
    const bool found = ::fstatat(dirFd, twin.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    ::unlinkat(dirFd, name.c_str(), 0);
    return found;
  }
  return false;
}

}  // namespace

bool FolderIgnoresCase(const std::string& dir) {
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ignores;
#ifdef __linux__
  // The usual file systems are told by their type, without a probe.
  struct statfs fs;
  switch (::fstatfs(fd, &fs) == 0 ? fs.f_type : 0) {
    case MSDOS_SUPER_MAGIC:  // vfat and msdos
    case EXFAT_SUPER_MAGIC:
      ignores = true;
      break;
    case EXT4_SUPER_MAGIC:  // also ext2 and ext3
    case F2FS_SUPER_MAGIC:
    case TMPFS_MAGIC: {
      int flags = 0;  // the kernel writes an int, whatever the request's type says
      ignores = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL) != 0;
      break;
    }
    case BTRFS_SUPER_MAGIC:
    case XFS_SUPER_MAGIC:
      ignores = false;
      break;
    default:  // FUSE (ntfs-3g, exfat-fuse), network shares, overlays, ntfs3 "nocase"...
      ignores = TwinFindsProbe(fd);
  }
#else
  ignores = TwinFindsProbe(fd);
#endif
  ::close(fd);
  return ignores;
}

void MarkRunning() {}  // no installer to tell

bool LocalSocketAnswers(const std::string& path, bool abstract) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::size_t offset = abstract ? 1 : 0;  // abstract names start with a NUL
  if (path.size() + offset >= sizeof(addr.sun_path)) return false;
  std::memcpy(addr.sun_path + offset, path.data(), path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const socklen_t len = socklen_t(offsetof(sockaddr_un, sun_path) + offset + path.size());
  const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0;
  ::close(fd);
  return ok;
}

Error ReplaceProcess(const std::string& path, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 2);
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::fflush(nullptr);  // nothing written so far may be lost with this process
  ::execv(path.c_str(), argv.data());
  return errno;
}

int UsableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return std::max(1, CPU_COUNT(&set));
}

Error CouldCreateIn(const std::string& folder) {
  const std::string dir = folder.empty() ? "." : folder;
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  return ::access(dir.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

}  // namespace marklode::os

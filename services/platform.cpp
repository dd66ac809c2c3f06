#include "services/platform.h"

#include <dirent.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <new>

#include "services/strings.h"

namespace marklode {

std::string_view DirectoryPart(std::string_view path) {
  std::size_t p = path.rfind(kPathSep);
  return p == std::string_view::npos ? std::string_view() : path.substr(0, p + 1);
}

std::string_view FileNamePart(std::string_view path) {
  std::size_t p = path.rfind(kPathSep);
  return p == std::string_view::npos ? path : path.substr(p + 1);
}

bool HasWildcards(std::string_view text) {
  return text.find_first_of("*?") != std::string_view::npos;
}

std::uint64_t FileSize(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

namespace {

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string NotARegularFileText(std::string_view given, std::string_view completed) {
  struct stat st;
  std::string path(completed);
  if (::stat(path.c_str(), &st) != 0) {
    path.assign(given);
    if (given == completed || ::stat(path.c_str(), &st) != 0) return {};
  }
  if (S_ISREG(st.st_mode)) return {};
  const char* what = S_ISDIR(st.st_mode)                            ? "a folder"
                     : S_ISFIFO(st.st_mode)                         ? "a named pipe"
                     : S_ISSOCK(st.st_mode)                         ? "a socket"
                     : (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) ? "a device"
                                                                    : "no regular file";
  return "The input is " + std::string(what) + ", not a file that can be converted: " + path;
}

bool SameFile(const std::string& a, const std::string& b) {
  if (IEquals(a, b)) return true;
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

std::vector<std::string> FindFiles(std::string_view path) {
  std::string dir(DirectoryPart(path));
  std::string_view pattern = FileNamePart(path);
  if (pattern.empty()) return {};
  // An exactly named file is found without reading the folder.
  if (IsRegularFile(std::string(path))) return {std::string(pattern)};

  std::vector<std::string> names;
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return names;
  const bool exactDot = pattern[0] == '.';
  while (dirent* e = ::readdir(d)) {
    std::string_view name = e->d_name;
    if (name[0] == '.' && !exactDot) continue;  // hidden files match only when asked for
    if (!WildcardMatch(name, pattern)) continue;
    if (IsRegularFile(dir + std::string(name))) names.emplace_back(name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

std::string FindFirstFile(std::string_view path) {
  std::vector<std::string> names = FindFiles(path);
  return names.empty() ? std::string() : names.front();
}

std::string ResolveFile(std::string_view path) {
  std::string exact(path);
  if (IsRegularFile(exact)) return exact;
  if (HasWildcards(FileNamePart(path))) return {};
  std::string name = FindFirstFile(path);
  return name.empty() ? std::string() : std::string(DirectoryPart(path)) + name;
}

std::string ProgramFolder() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return CurrentDirectory();
  return exe.parent_path().string();
}

std::string CurrentDirectory() {
  std::error_code ec;
  std::string cwd = std::filesystem::current_path(ec).string();
  return ec ? std::string(".") : cwd;
}

bool ChangeDirectory(std::string_view path) {
  return ::chdir(std::string(path).c_str()) == 0;
}

ZeroedBlock::ZeroedBlock(std::size_t bytes, bool mayMap) : bytes_(bytes) {
  constexpr std::size_t kHuge = 2u << 20;
  if (mayMap && bytes >= kHuge) {
    // Anonymous pages come zeroed. Huge pages need aligned addresses: map a
    // little more and use the aligned part. The hint is only a hint.
    void* p =
        ::mmap(nullptr, bytes + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p != MAP_FAILED) {
      base_ = p;
      bytes_ = bytes + kHuge;
      mapped_ = true;
      const auto at =
          (reinterpret_cast<std::uintptr_t>(p) + kHuge - 1) & ~std::uintptr_t{kHuge - 1};
      data_ = reinterpret_cast<void*>(at);
#if defined(MADV_HUGEPAGE)
      ::madvise(data_, bytes, MADV_HUGEPAGE);
#endif
      return;
    }
  }
  base_ = data_ = std::calloc(bytes, 1);
  if (!data_ && bytes > 0) throw std::bad_alloc();
}

ZeroedBlock::~ZeroedBlock() {
  // Freed by the allocator that gave it: a block of megabytes may have come
  // from the heap when its mapping failed.
  if (mapped_)
    ::munmap(base_, bytes_);
  else
    std::free(base_);
}

}  // namespace marklode

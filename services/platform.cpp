#include "services/platform.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "services/case_blind.h"
#include "services/os.h"
#include "services/strings.h"

namespace marklode {

namespace {

// Where the folder part of path ends (0 when there is none).
std::size_t FolderEnd(std::string_view path, PathRule rule) {
  if (rule == PathRule::Posix) {
    const std::size_t p = path.rfind('/');
    return p == std::string_view::npos ? 0 : p + 1;
  }
  const std::size_t p = path.find_last_of("\\/");
  if (p != std::string_view::npos) return p + 1;
  // "C:trip.gpx": the drive alone, its current folder.
  const char drive = path.size() >= 2 && path[1] == ':' ? path[0] : 0;
  if ((drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z')) return 2;
  return 0;
}

}  // namespace

std::string_view DirectoryPart(std::string_view path, PathRule rule) {
  return path.substr(0, FolderEnd(path, rule));
}

std::string_view FileNamePart(std::string_view path, PathRule rule) {
  return path.substr(FolderEnd(path, rule));
}

bool HasWildcards(std::string_view text) {
  return text.find_first_of("*?") != std::string_view::npos;
}

bool IsWindowsDeviceName(std::string_view name) {
  // The device is the part before the first dot, spaces after it ignored.
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  if (stem.size() == 3)
    return IEquals(stem, "CON") || IEquals(stem, "PRN") || IEquals(stem, "AUX") ||
           IEquals(stem, "NUL");
  // The console's two halves, which a file of that name would reach too.
  if (IEquals(stem, "CONIN$") || IEquals(stem, "CONOUT$")) return true;
  if (stem.size() < 4 || !(IStartsWith(stem, "COM") || IStartsWith(stem, "LPT"))) return false;
  const std::string_view digit = stem.substr(3);
  // The superscript digits one to three name the same ports.
  return (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') || digit == "\xc2\xb9" ||
         digit == "\xc2\xb2" || digit == "\xc2\xb3";
}

void MakeSafeFileName(std::string& name, PathRule rule) {
  const std::string_view banned = rule == PathRule::Posix ? "/" : "\\/:*?\"<>|";
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || banned.find(c) != banned.npos) c = '_';
  if (rule == PathRule::Posix) return;
  // Windows drops these from the end of a name, so a file would not get the
  // name it was given.
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  if (IsWindowsDeviceName(name)) name.insert(std::min(name.find('.'), name.size()), "_");
}

std::string SafeFileName(std::string_view text, PathRule rule) {
  std::string name(text);
  MakeSafeFileName(name, rule);
  return name;
}

bool AppendRandomHex(std::string& name, std::size_t bytes) {
  unsigned char r[32];
  if (bytes > sizeof r || !os::RandomBytes(r, bytes)) return false;
  for (std::size_t i = 0; i < bytes; ++i) {
    name += "0123456789abcdef"[r[i] >> 4];
    name += "0123456789abcdef"[r[i] & 15];
  }
  return true;
}

std::uint64_t FileSize(const std::string& path) {
  return os::Stat(path).size;
}

std::string NotARegularFileText(std::string_view given, std::string_view completed) {
  std::string path(completed);
  os::FileInfo info = os::Stat(path);
  if (info.kind == os::Kind::Missing) {
    path.assign(given);
    if (given == completed) return {};
    info = os::Stat(path);
    if (info.kind == os::Kind::Missing) return {};
  }
  const char* what;
  switch (info.kind) {
    case os::Kind::Regular:
      return {};
    case os::Kind::Folder:
      what = "a folder";
      break;
    case os::Kind::Pipe:
      what = "a named pipe";
      break;
    case os::Kind::Socket:
      what = "a socket";
      break;
    case os::Kind::Device:
      what = "a device";
      break;
    default:
      what = "no regular file";
  }
  return "The input is " + std::string(what) + ", not a file that can be converted: " + path;
}

bool SameFileName(std::string_view a, std::string_view b, bool folderIgnoresCase, PathRule rule) {
  if (!folderIgnoresCase) return a == b;
  return CaseBlindKey(a, rule) == CaseBlindKey(b, rule);
}

bool SameFile(const std::string& a, const std::string& b) {
  if (a == b || os::SameFileId(a, b)) return true;
  // Not one file by number (or one not there yet): names that differ in case
  // alone are one where the folder says so; it is asked only then.
  return SameFileName(a, b, true) && os::FolderIgnoresCase(std::string(DirectoryPart(a)));
}

std::vector<std::string> FindFiles(std::string_view path) {
  const std::string dir(DirectoryPart(path));
  const std::string_view pattern = FileNamePart(path);
  if (pattern.empty()) return {};
  // An exactly named file is found without reading the folder, under the
  // name the folder has for it.
  const std::string exact(path);
  if (os::Stat(exact).kind == os::Kind::Regular) return {os::StoredName(exact)};

  std::vector<std::string> names;
  // Hidden files match only when asked for by a name starting with ".".
  os::ListFolder(dir, pattern[0] == '.', [&](std::string_view name, os::Kind kind) {
    if (kind == os::Kind::Regular && WildcardMatch(name, pattern)) names.emplace_back(name);
  });
  std::sort(names.begin(), names.end());
  return names;
}

std::string FindFirstFile(std::string_view path) {
  std::vector<std::string> names = FindFiles(path);
  return names.empty() ? std::string() : names.front();
}

std::string ResolveFile(std::string_view path) {
  std::string exact(path);
  // Under the name the folder has for it, which a case-insensitive file
  // system may spell otherwise.
  if (os::Stat(exact).kind == os::Kind::Regular)
    return std::string(DirectoryPart(path)) + os::StoredName(exact);
  if (HasWildcards(FileNamePart(path))) return {};
  std::string name = FindFirstFile(path);
  return name.empty() ? std::string() : std::string(DirectoryPart(path)) + name;
}

std::string ProgramFolder() {
  const std::string exe = os::ProgramPath();
  if (exe.empty()) return CurrentDirectory();
  std::string_view dir = DirectoryPart(exe);
  const bool root = dir.size() == 1 || (dir.size() == 3 && dir[1] == ':');  // "/", "C:\"
  if (!root && !dir.empty()) dir.remove_suffix(1);
  return std::string(dir);
}

std::string CurrentDirectory() {
  return os::CurrentDirectory();
}

bool ChangeDirectory(std::string_view path) {
  return os::ChangeDirectory(std::string(path));
}

ZeroedBlock::ZeroedBlock(std::size_t bytes, bool mayMap) : bytes_(bytes) {
  constexpr std::size_t kHuge = 2u << 20;
  if (mayMap && bytes >= kHuge) {
    // Fresh pages come zeroed. Huge pages need aligned addresses: map a
    // little more and use the aligned part.
    if (void* p = os::MapZeroed(bytes + kHuge)) {
      base_ = p;
      bytes_ = bytes + kHuge;
      mapped_ = true;
      const auto at =
          (reinterpret_cast<std::uintptr_t>(p) + kHuge - 1) & ~std::uintptr_t{kHuge - 1};
      data_ = reinterpret_cast<void*>(at);
      os::AdviseHugePages(data_, bytes);
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
    os::Unmap(base_, bytes_);
  else
    std::free(base_);
}

}  // namespace marklode

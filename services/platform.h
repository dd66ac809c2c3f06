// Process and file-system services: paths, the directory lookup, the
// program's folder, the current directory. On POSIX "/" separates path
// components; on Windows "\" and "/" both do, and a drive's colon ends a
// folder part ("C:trip.gpx").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace marklode {

// The path and file-name rules of one system. Both are plain functions of
// text, so that either can be tried anywhere; the host's is the default.
enum class PathRule { Posix, Windows };
#ifdef _WIN32
inline constexpr PathRule kHostPathRule = PathRule::Windows;
inline constexpr char kPathSep = '\\';  // what joins a folder and a name
#else
inline constexpr PathRule kHostPathRule = PathRule::Posix;
inline constexpr char kPathSep = '/';
#endif

// Text up to and including the last separator (empty when there is none).
std::string_view DirectoryPart(std::string_view path, PathRule rule = kHostPathRule);
// Text after the last separator (the whole text when there is none).
std::string_view FileNamePart(std::string_view path, PathRule rule = kHostPathRule);
bool HasWildcards(std::string_view text);

// A name made from text that must name a file in the folder it is put in:
// no separators, no control characters. On Windows also none of : * ? " < > |,
// no trailing dot or space, and no device name (CON, PRN, AUX, NUL, COM1-9,
// LPT1-9, with any extension), which gets "_" after it.
std::string SafeFileName(std::string_view name, PathRule rule = kHostPathRule);
// The same, in place.
void MakeSafeFileName(std::string& name, PathRule rule = kHostPathRule);
// Whether name (a file name, any extension) names a Windows device.
bool IsWindowsDeviceName(std::string_view name);

// The directory lookup. Returns the bare names of the ordinary files that match
// the last component of path (wildcards "*" and "?" allowed there), compared
// without regard to case, sorted by name. An exactly named existing file comes
// back alone under its own name, as its folder stores it. Directories never
// match; nor do dot files unless asked for by a name starting with "." (nor,
// on Windows, files marked hidden or system).
std::vector<std::string> FindFiles(std::string_view path);
// The size of the file at path, or 0 when it cannot be told.
// Appends 2 * bytes random hexadecimal digits from the system to name;
// false when the system has no random bytes to give.
bool AppendRandomHex(std::string& name, std::size_t bytes);

std::uint64_t FileSize(const std::string& path);
// First name FindFiles gives, or empty text.
std::string FindFirstFile(std::string_view path);
// The path of the file to open for a name without wildcards: the name itself
// when such a file exists (spelt as its folder stores it), else the one file
// whose name differs only in case; empty when there is none.
std::string ResolveFile(std::string_view path);

// The stop message for an input that exists but is not a regular file (a
// folder, a named pipe, a device, a socket): completed is the name with its
// default extension, given the name as the user wrote it, which is looked at
// when completed names nothing. Empty text when neither is such a thing.
std::string NotARegularFileText(std::string_view given, std::string_view completed);

// Whether two names are one file's name as a folder compares them: byte for
// byte, or without regard to case where the folder ignores it (under the
// Windows rule "/" and "\\" are one separator there). Only text is compared.
bool SameFileName(std::string_view a, std::string_view b, bool folderIgnoresCase,
                  PathRule rule = kHostPathRule);
// Whether two names denote one file: the same device and file number where
// both exist; else names that differ only in case where the folder ignores
// case (Windows; on Linux a FAT or exFAT volume or a casefold folder), or
// equal names. On Linux "P.CSV" and "p.csv" are two files.
bool SameFile(const std::string& a, const std::string& b);

// A block of zeroed memory for a large table. Blocks of megabytes are mapped
// and ask for huge pages where the system offers them: a table probed at
// random then costs few address-translation misses and few page faults.
// Smaller blocks, and any block whose mapping fails, come from the heap;
// mayMap false goes to the heap at once (so that path can be tested).
class ZeroedBlock {
 public:
  ZeroedBlock() = default;
  explicit ZeroedBlock(std::size_t bytes, bool mayMap = true);
  ~ZeroedBlock();
  ZeroedBlock(ZeroedBlock&& other) noexcept { Swap(other); }
  ZeroedBlock& operator=(ZeroedBlock&& other) noexcept {
    Swap(other);
    return *this;
  }
  void* data() const { return data_; }
  bool mapped() const { return mapped_; }

 private:
  void Swap(ZeroedBlock& other) noexcept {
    std::swap(base_, other.base_);
    std::swap(data_, other.data_);
    std::swap(bytes_, other.bytes_);
    std::swap(mapped_, other.mapped_);
  }
  void* base_ = nullptr;  // what was allocated
  void* data_ = nullptr;  // the usable part
  std::size_t bytes_ = 0;
  bool mapped_ = false;  // base_ came from the system's pages (else from calloc)
};

std::string ProgramFolder();  // folder of the running executable, no trailing separator
std::string CurrentDirectory();
bool ChangeDirectory(std::string_view path);

}  // namespace marklode

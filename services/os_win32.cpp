// The system interface on Windows. Every name goes through the wide (UTF-16)
// calls, files are handles in binary mode, sizes and offsets 64-bit. A
// temporary is held by being open without FILE_SHARE_DELETE: nobody else can
// remove it, or open it for writing, while its owner lives.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// The program's own lookup has this name; the system's is not used here.
#undef FindFirstFile

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "services/os.h"
#include "services/platform.h"
#include "services/settings.h"
#include "services/strings.h"
#include "services/sync.h"

namespace marklode {

namespace {

std::wstring Wide(std::string_view text) {
  if (text.empty()) return {};
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string Narrow(const wchar_t* text, std::size_t size = std::string::npos) {
  if (size == std::string::npos) size = std::wcslen(text);
  if (size == 0) return {};
  const int n =
      ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), out.data(), n, nullptr, nullptr);
  return out;
}

// A file's name for the wide calls. Past the classic limit of MAX_PATH a
// path only works in the extended form ("\\?\C:\..."), which the system
// takes as it is: it is made full and plain first.
std::wstring PathW(std::string_view path) {
  std::wstring w = Wide(path);
  constexpr std::size_t kClassicLimit = 248;  // for folders; files get 260
  if (w.size() < kClassicLimit || w.rfind(L"\\\\?\\", 0) == 0) return w;
  const DWORD need = ::GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
  if (need == 0) return w;
  std::wstring full(need, L'\0');
  const DWORD n = ::GetFullPathNameW(w.c_str(), need, full.data(), nullptr);
  if (n == 0 || n >= need) return w;
  full.resize(n);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

HANDLE H(os::File file) {
  return reinterpret_cast<HANDLE>(file);
}

os::File F(HANDLE h) {
  return h == INVALID_HANDLE_VALUE ? os::kNoFile : reinterpret_cast<os::File>(h);
}

// ReadFile and WriteFile count in 32 bits.
constexpr std::size_t kMostPerCall = 1u << 30;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

namespace os {

// The slim lock and condition variable are each one pointer, all zero when
// new: Mutex and CondVar keep them as a void*.
static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*));

void LockExclusive(void** lock) {
  ::AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(lock));
}

void UnlockExclusive(void** lock) {
  ::ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(lock));
}

void SleepOn(void** condition, void** lock) {
  ::SleepConditionVariableSRW(reinterpret_cast<PCONDITION_VARIABLE>(condition),
                              reinterpret_cast<PSRWLOCK>(lock), INFINITE, 0);
}

void WakeOne(void** condition) {
  ::WakeConditionVariable(reinterpret_cast<PCONDITION_VARIABLE>(condition));
}

void WakeAll(void** condition) {
  ::WakeAllConditionVariable(reinterpret_cast<PCONDITION_VARIABLE>(condition));
}

bool ShortOfHandles(Error err) {
  return err == ERROR_TOO_MANY_OPEN_FILES || err == ERROR_NO_SYSTEM_RESOURCES;
}

std::size_t OpenFileLimit() {
  return SIZE_MAX;
}

void RaiseOpenFileLimit() {}

std::string ErrorText(Error err) {
  wchar_t* buf = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(err), 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  std::string text = n > 0 && buf ? Narrow(buf, n) : std::string();
  if (buf) ::LocalFree(buf);
  // The warning adds its own period.
  while (!text.empty() &&
         (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  return text.empty() ? "Error " + std::to_string(err) : text;
}

FileInfo Stat(const std::string& path) {
  FileInfo info;
  if (IsWindowsDeviceName(FileNamePart(path))) {
    info.kind = Kind::Device;
    return info;
  }
  WIN32_FILE_ATTRIBUTE_DATA a;
  if (!::GetFileAttributesExW(PathW(path).c_str(), GetFileExInfoStandard, &a)) return info;
  if (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    info.kind = Kind::Folder;
  } else {
    info.kind = Kind::Regular;
    info.size = (std::uint64_t{a.nFileSizeHigh} << 32) | a.nFileSizeLow;
  }
  return info;
}

Error OpenForReading(const std::string& path, File& file, FileInfo& info, bool) {
  const std::wstring name = PathW(path);
  HANDLE h = ::CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  file = F(h);
  if (h == INVALID_HANDLE_VALUE) {
    const Error err = static_cast<Error>(::GetLastError());
    const DWORD attrs = ::GetFileAttributesW(name.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) return kIsFolder;
    return err;
  }
  info = FileInfo();
  switch (::GetFileType(h)) {
    case FILE_TYPE_DISK: {
      LARGE_INTEGER size;
      info.kind = Kind::Regular;
      if (::GetFileSizeEx(h, &size)) info.size = static_cast<std::uint64_t>(size.QuadPart);
      break;
    }
    case FILE_TYPE_CHAR:
      info.kind = Kind::Device;
      break;
    case FILE_TYPE_PIPE:
      info.kind = Kind::Pipe;
      break;
    default:
      info.kind = Kind::Other;
  }
  return 0;
}

Error ReadSome(File file, char* buf, std::size_t cap, std::size_t& got) {
  DWORD n = 0;
  got = 0;
  if (!::ReadFile(H(file), buf, static_cast<DWORD>(std::min(cap, kMostPerCall)), &n, nullptr)) {
    const DWORD err = ::GetLastError();
    return err == ERROR_BROKEN_PIPE || err == ERROR_HANDLE_EOF ? 0 : static_cast<Error>(err);
  }
  got = n;
  return 0;
}

Error SeekTo(File file, std::uint64_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  return ::SetFilePointerEx(H(file), to, nullptr, FILE_BEGIN)
             ? 0
             : static_cast<Error>(::GetLastError());
}

Error WriteAll(File file, const char* p, std::size_t n) {
  while (n > 0) {
    DWORD w = 0;
    if (!::WriteFile(H(file), p, static_cast<DWORD>(std::min(n, kMostPerCall)), &w, nullptr))
      return static_cast<Error>(::GetLastError());
    if (w == 0) return kNoSpace;
    p += w;
    n -= w;
  }
  return 0;
}

// Positioned through OVERLAPPED on a handle opened for plain calls: the
// call waits, and the file pointer moves, which these files do not use.
Error WriteAt(File file, const char* p, std::size_t n, std::uint64_t offset) {
  while (n > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD w = 0;
    if (!::WriteFile(H(file), p, static_cast<DWORD>(std::min(n, kMostPerCall)), &w, &at))
      return static_cast<Error>(::GetLastError());
    if (w == 0) return kNoSpace;
    p += w;
    n -= w;
    offset += w;
  }
  return 0;
}

Error ReadAt(File file, char* buf, std::size_t cap, std::uint64_t offset, std::size_t& got) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD n = 0;
  got = 0;
  if (!::ReadFile(H(file), buf, static_cast<DWORD>(std::min(cap, kMostPerCall)), &n, &at)) {
    const DWORD err = ::GetLastError();
    return err == ERROR_HANDLE_EOF ? 0 : static_cast<Error>(err);
  }
  got = n;
  return 0;
}

Error SizeOf(File file, std::uint64_t& size) {
  LARGE_INTEGER s;
  if (!::GetFileSizeEx(H(file), &s)) return static_cast<Error>(::GetLastError());
  size = static_cast<std::uint64_t>(s.QuadPart);
  return 0;
}

Error Truncate(File file, std::uint64_t size) {
  if (const Error err = SeekTo(file, size)) return err;
  return ::SetEndOfFile(H(file)) ? 0 : static_cast<Error>(::GetLastError());
}

bool Reserve(File, std::uint64_t, std::uint64_t) {
  return false;  // NTFS gains little from it, and never writes a file out on a rename
}

Error Close(File file) {
  return ::CloseHandle(H(file)) ? 0 : static_cast<Error>(::GetLastError());
}

void Remove(const std::string& path) {
  ::DeleteFileW(PathW(path).c_str());
}

bool CanAppendTo(const std::string& path) {
  const std::wstring name = PathW(path);
  HANDLE h = ::CreateFileW(name.c_str(), FILE_APPEND_DATA, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
    // A new file goes again when closed; only one made here can be.
    h = ::CreateFileW(name.c_str(), FILE_APPEND_DATA | DELETE, kShareAll, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  }
  if (h == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(h);
  return true;
}

bool ReadOnlyFile(const std::string& path) {
  const DWORD attrs = ::GetFileAttributesW(PathW(path).c_str());
  return attrs != INVALID_FILE_ATTRIBUTES &&
         !(attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
         (attrs & FILE_ATTRIBUTE_READONLY);
}

TargetState InspectTarget(const std::string& path) {
  TargetState t;
  if (IsWindowsDeviceName(FileNamePart(path))) {
    t.kind = Kind::Device;
    return t;
  }
  const DWORD attrs = ::GetFileAttributesW(PathW(path).c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) return t;
  t.kind = attrs & FILE_ATTRIBUTE_DIRECTORY ? Kind::Folder : Kind::Regular;
  t.readOnly = !(attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
               (attrs & FILE_ATTRIBUTE_READONLY);  // as ReadOnlyFile
  return t;
}

// Devices go by their plain names: the extended form would make "NUL" a
// file of that name.
Error OpenDevice(const std::string& path, File& file) {
  HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  file = kNoFile;
  if (h == INVALID_HANDLE_VALUE) return static_cast<Error>(::GetLastError());
  if (::GetFileType(h) == FILE_TYPE_DISK) {
    ::CloseHandle(h);
    return kBusy;
  }
  file = F(h);
  return 0;
}

// advapi32's generator (RtlGenRandom), which the program loads anyway for
// the registry: bcrypt.dll would cost every start a library more.
extern "C" BOOLEAN NTAPI SystemFunction036(PVOID buffer, ULONG length);

bool RandomBytes(void* p, std::size_t n) {
  return n <= 0xFFFFFFFFu && SystemFunction036(p, static_cast<ULONG>(n));
}

namespace {

// The file's identity and link count, from its handle.
bool IdOf(HANDLE h, FileId& id, DWORD& links) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h, &info)) return false;
  id.volume = info.dwVolumeSerialNumber;
  id.index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  links = info.nNumberOfLinks;
  return !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
}

// Open for reading and writing, shared for reading only: no other run can
// write it or remove it while this handle lives. Opened for deletion too, so
// that it can be renamed through the handle, still held. A link there is
// opened as itself, never followed.
HANDLE OpenHeld(const std::string& path, DWORD disposition, Error& err) {
  HANDLE h = ::CreateFileW(PathW(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                           FILE_SHARE_READ, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  err = 0;
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD e = ::GetLastError();
    err = e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION ? kBusy : static_cast<Error>(e);
  }
  return h;
}

}  // namespace

Error CreateTemporary(const std::string& stem, std::string& path, File& file, FileId& id) {
  file = kNoFile;
  // 64 random bits, and only a new file: nothing placed at the name
  // beforehand is ever written.
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = stem;
    if (!AppendRandomHex(path, 8)) return ERROR_GEN_FAILURE;
    Error err;
    HANDLE h = OpenHeld(path, CREATE_NEW, err);
    if (h == INVALID_HANDLE_VALUE) {
      if (err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS || err == kBusy) continue;
      return err;
    }
    DWORD links = 0;
    IdOf(h, id, links);
    file = F(h);
    return 0;
  }
  return ERROR_FILE_EXISTS;
}

// A held temporary cannot be opened for deletion (its owner does not share
// that), so opening it so is the test of whether anybody holds it. Who owns
// it is left to the folder's permissions here.
void RemoveStale(const std::string& path) {
  HANDLE h = ::CreateFileW(PathW(path).c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  FileId id;
  DWORD links = 0;
  if (::GetFileType(h) == FILE_TYPE_DISK && IdOf(h, id, links) && links == 1) {
    FILE_DISPOSITION_INFO gone{TRUE};
    ::SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone);
  }
  ::CloseHandle(h);
}

Error ReopenTemporary(const std::string& path, const FileId& id, std::uint64_t size, File& file) {
  Error err;
  HANDLE h = OpenHeld(path, OPEN_EXISTING, err);
  file = kNoFile;
  if (h == INVALID_HANDLE_VALUE) return err;
  FileId now;
  DWORD links = 0;
  std::uint64_t bytes = 0;
  if (!IdOf(h, now, links) || !(now == id) || links != 1 || SizeOf(F(h), bytes) != 0 ||
      bytes != size || SeekTo(F(h), size) != 0) {
    ::CloseHandle(h);
    return kBusy;
  }
  file = F(h);
  return 0;
}

void MatchPermissions(File, const TargetState&) {}  // a new file takes its folder's

namespace {

// The system's own form of a full path ("\??\C:\dir\name"), which a rename
// through a handle needs: a bare name would not be taken everywhere as one in
// the file's folder.
std::wstring NtPath(const std::string& path) {
  const std::wstring w = Wide(path);
  const DWORD need = ::GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
  if (need == 0) return {};
  std::wstring full(need, L'\0');
  const DWORD n = ::GetFullPathNameW(w.c_str(), need, full.data(), nullptr);
  if (n == 0 || n >= need) return {};
  full.resize(n);
  if (full.rfind(L"\\\\?\\", 0) == 0) return L"\\??\\" + full.substr(4);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\??\\UNC\\" + full.substr(2);
  return L"\\??\\" + full;
}

// Renames the open file to target, replacing a file of that name, while the
// handle keeps it held.
Error RenameHeld(File file, const std::string& target) {
  const std::wstring w = NtPath(target);
  if (w.empty()) return ERROR_INVALID_PARAMETER;
  std::vector<unsigned char> buf(sizeof(FILE_RENAME_INFO) + w.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buf.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(w.size() * sizeof(wchar_t));
  std::memcpy(info->FileName, w.data(), w.size() * sizeof(wchar_t));
  return ::SetFileInformationByHandle(H(file), FileRenameInfo, info, static_cast<DWORD>(buf.size()))
             ? 0
             : static_cast<Error>(::GetLastError());
}

// What a file system or redirector that cannot rename through a handle, or
// cannot take the path in the system's form, answers: the move by name may
// still work.
bool Unsupported(Error err) {
  switch (err) {
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_CALL_NOT_IMPLEMENTED:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_NOT_SAME_DEVICE:
      return true;
    default:
      return false;
  }
}

}  // namespace

// Marked for deletion through the handle, so that it goes when the handle
// closes, with no moment in which another run could take it; by name where
// that fails.
void RemoveTemporary(File file, const std::string& path) {
  if (file != kNoFile) {
    FILE_DISPOSITION_INFO gone{TRUE};
    const bool marked =
        ::SetFileInformationByHandle(H(file), FileDispositionInfo, &gone, sizeof gone);
    ::CloseHandle(H(file));
    if (marked) return;
  }
  Remove(path);
}

// A rename through the temporary's handle replaces the target atomically
// (the two share a folder) while no other run can take the temporary over.
// Where the file system cannot, the handle goes first (it does not share
// deletion, which a rename needs) and the move goes by name, written through
// before it is reported done.
Error ReplaceTarget(File file, const std::string& temporary, const std::string& target) {
  if (file != kNoFile) {
    Error err = RenameHeld(file, target);
    // Another run that has just put the same target in place holds it open
    // for a moment: wait for it rather than fail.
    for (int wait = 0; wait < 50 && (err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION);
         ++wait) {
      ::Sleep(10);
      err = RenameHeld(file, target);
    }
    if (err != 0 && !Unsupported(err)) {
      RemoveTemporary(file, temporary);
      return err;
    }
    const Error closed = Close(file);
    if (err == 0) return closed;  // in place
    if (closed != 0) {
      Remove(temporary);
      return closed;
    }
  }
  if (::MoveFileExW(PathW(temporary).c_str(), PathW(target).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return 0;
  const Error err = static_cast<Error>(::GetLastError());
  Remove(temporary);
  return err;
}

Error CreateScratch(const std::string& dir, File& file) {
  file = kNoFile;
  std::string folder = dir;
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/' && folder.back() != ':')
    folder += '\\';
  Error err = 0;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::string name = folder + ".marklode-scratch-";
    if (!AppendRandomHex(name, 8)) return ERROR_GEN_FAILURE;
    HANDLE h = ::CreateFileW(
        PathW(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      file = F(h);
      return 0;
    }
    err = static_cast<Error>(::GetLastError());
    if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) break;
  }
  return err;
}

bool ListFolder(const std::string& dir, bool withHidden,
                const std::function<void(std::string_view, Kind)>& found, bool everything) {
  WIN32_FIND_DATAW e;
  HANDLE h = ::FindFirstFileExW(PathW(dir + "*").c_str(), FindExInfoBasic, &e,
                                FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (h == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    const std::string name = Narrow(e.cFileName);
    if (name == "." || name == "..") continue;
    if (!everything && (e.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
      continue;
    if (name[0] == '.' && !withHidden) continue;
    found(name, e.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? Kind::Folder : Kind::Regular);
  } while (::FindNextFileW(h, &e));
  ::FindClose(h);
  return true;
}

std::string StoredName(const std::string& path) {
  WIN32_FIND_DATAW e;
  HANDLE h = ::FindFirstFileExW(PathW(path).c_str(), FindExInfoBasic, &e, FindExSearchNameMatch,
                                nullptr, 0);
  if (h == INVALID_HANDLE_VALUE) return std::string(FileNamePart(path));
  ::FindClose(h);
  return Narrow(e.cFileName);
}

namespace {

bool IdentityOf(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  // No access asked for: the file's identity only, even of one held open.
  HANDLE h = ::CreateFileW(PathW(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = ::GetFileInformationByHandle(h, &info);
  ::CloseHandle(h);
  return ok;
}

}  // namespace

bool SameFileId(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION ia, ib;
  return IdentityOf(a, ia) && IdentityOf(b, ib) &&
         ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

void CreateFolders(const std::string& path) {
  const std::wstring w = PathW(path);
  for (std::size_t i = 1; i <= w.size(); ++i)
    if (i == w.size() || w[i] == L'\\' || w[i] == L'/')
      ::CreateDirectoryW(w.substr(0, i).c_str(), nullptr);  // those there fail harmlessly
}

std::wstring Utf16(std::string_view utf8) {
  return Wide(utf8);
}

std::string Utf8(std::wstring_view utf16) {
  return Narrow(utf16.data(), utf16.size());
}

std::string ProgramPath() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return Narrow(buf.data(), n);
    buf.resize(buf.size() * 2);  // cut short: a longer path
  }
}

std::string CurrentDirectory() {
  const DWORD need = ::GetCurrentDirectoryW(0, nullptr);
  std::wstring buf(need, L'\0');
  const DWORD n = need ? ::GetCurrentDirectoryW(need, buf.data()) : 0;
  return n == 0 || n >= need ? std::string(".") : Narrow(buf.data(), n);
}

bool ChangeDirectory(const std::string& path) {
  return ::SetCurrentDirectoryW(Wide(path).c_str());
}

std::vector<std::string> Arguments(int, char**) {
  std::vector<std::string> args = SplitCommandLine(Narrow(::GetCommandLineW()));
  if (!args.empty()) args.erase(args.begin());  // the program's own name
  return args;
}

std::string Environment(const char* name) {
  const std::wstring w = Wide(name);
  const DWORD need = ::GetEnvironmentVariableW(w.c_str(), nullptr, 0);
  if (need == 0) return {};
  std::wstring buf(need, L'\0');
  const DWORD n = ::GetEnvironmentVariableW(w.c_str(), buf.data(), need);
  return n == 0 || n >= need ? std::string() : Narrow(buf.data(), n);
}

void* MapZeroed(std::size_t bytes) {
  return ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void Unmap(void* p, std::size_t) {
  ::VirtualFree(p, 0, MEM_RELEASE);
}

// Large pages need a privilege users lack. The next best: write each page
// once now. A block that is probed before it is written (a hash table) would
// otherwise have each page read in as the shared zero page and then copied on
// its first write, which under Wine also flushes every core's TLB: that cost
// a tenth of a POI-CSV to GPX run.
void AdviseHugePages(void* p, std::size_t bytes) {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  volatile char* const base = static_cast<char*>(p);
  for (std::size_t at = 0; at < bytes; at += info.dwPageSize) base[at] = 0;
}

std::unique_ptr<SettingsStore> UserSettings() {
  return std::make_unique<RegistrySettingsStore>();
}

}  // namespace os

// Values are read whole, whatever their length; anything missing or not text
// reads as empty, and failures are silent.
std::string RegistrySettingsStore::GetRegistryValue(std::string_view name) {
  HKEY key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, Wide(keyPath_).c_str(), 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS)
    return {};
  const std::wstring value = Wide(name);
  std::wstring buf;
  std::string result;
  for (;;) {
    DWORD type = 0, bytes = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
    const LSTATUS st = ::RegQueryValueExW(key, value.c_str(), nullptr, &type,
                                          reinterpret_cast<BYTE*>(buf.data()), &bytes);
    if (st == ERROR_MORE_DATA || (st == ERROR_SUCCESS && buf.empty() && bytes > 0)) {
      buf.resize(bytes / sizeof(wchar_t) + 1);
      continue;
    }
    if (st == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
      std::size_t n = std::min<std::size_t>(bytes / sizeof(wchar_t), buf.size());
      while (n > 0 && buf[n - 1] == L'\0') --n;  // stored with its terminator, or not
      result = Narrow(buf.data(), n);
    } else if (st == ERROR_SUCCESS && type == REG_DWORD && bytes == sizeof(DWORD)) {
      DWORD v;
      std::memcpy(&v, buf.data(), sizeof v);
      result = std::to_string(v);
    }
    break;
  }
  ::RegCloseKey(key);
  return result;
}

void RegistrySettingsStore::SetRegistryValue(std::string_view name, std::string_view value) {
  HKEY key;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, Wide(keyPath_).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  const std::wstring v = Wide(value);
  ::RegSetValueExW(key, Wide(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                   static_cast<DWORD>((v.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(key);
}

namespace os {

// Windows' file systems compare names without regard to case. A folder can be
// made case-sensitive (for Linux tools), but joining names there only puts
// more records in one file; it loses none.
bool FolderIgnoresCase(const std::string&) {
  return true;
}

// The handle stays open until the process ends, whichever way it ends: the
// system closes it then, and the installer sees the mutex gone.
void MarkRunning() {
  ::CreateMutexW(nullptr, FALSE, Wide(kRunningMark).c_str());
}

int UsableCores() {
  DWORD_PTR process = 0, system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return 1;
  int n = 0;
  for (; process; process &= process - 1) ++n;
  return std::max(1, n);
}

// Windows tells whether a folder may be written only by trying: its
// read-only attribute means nothing for the files in it.
Error CouldCreateIn(const std::string& folder) {
  const DWORD attrs = ::GetFileAttributesW(PathW(folder.empty() ? "." : folder).c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) {
    const DWORD err = ::GetLastError();
    // Creating a file in a missing folder says "path not found".
    return err == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : static_cast<Error>(err);
  }
  return (attrs & FILE_ATTRIBUTE_DIRECTORY) ? 0 : ERROR_DIRECTORY;
}

}  // namespace os

}  // namespace marklode

// The operating system, behind one interface: files, folders, the process,
// memory and the settings store. Names are UTF-8 here; the Windows edition
// turns them into UTF-16 at the call and uses only the wide functions, in
// binary mode, with 64-bit sizes. Apart from the console (console.h), nothing
// outside os_posix.cpp and os_win32.cpp calls the system, and no header
// includes the system's own.
//
// Error codes are the system's: errno values on POSIX, GetLastError values on
// Windows. The few the callers tell apart have names below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#ifndef _WIN32
#include <cerrno>
#endif

namespace marklode {

class SettingsStore;

namespace os {

using Error = int;

#ifdef _WIN32
inline constexpr Error kNotFound = 2;       // ERROR_FILE_NOT_FOUND
inline constexpr Error kBadFile = 6;        // ERROR_INVALID_HANDLE
inline constexpr Error kNoSpace = 112;      // ERROR_DISK_FULL
inline constexpr Error kBusy = 170;         // ERROR_BUSY
inline constexpr Error kIsFolder = 336;     // ERROR_DIRECTORY_NOT_SUPPORTED
inline constexpr Error kIoError = 1117;     // ERROR_IO_DEVICE
inline constexpr Error kInterrupted = 995;  // ERROR_OPERATION_ABORTED
#else
inline constexpr Error kNotFound = ENOENT;
inline constexpr Error kBadFile = EBADF;
inline constexpr Error kNoSpace = ENOSPC;
inline constexpr Error kBusy = EBUSY;
inline constexpr Error kIsFolder = EISDIR;
inline constexpr Error kIoError = EIO;
inline constexpr Error kInterrupted = EINTR;  // a wait ended by Ctrl-C or a request to end
#endif

// Too many open files, for the process or the system: the caller may close
// some and try again.
bool ShortOfHandles(Error err);
// How many files the process may hold open at once, for callers that keep
// many open: the soft descriptor limit on POSIX; no bound (SIZE_MAX) on
// Windows, whose handles run out only with memory.
std::size_t OpenFileLimit();
// Raises the soft descriptor limit to the hard one (POSIX; nothing on
// Windows). Called once at start: a profile that writes a file per category
// then keeps them all open instead of closing and reopening them in turn.
void RaiseOpenFileLimit();
// The system's description of err (the usual file errors in short words on
// POSIX), without a trailing period or line end.
std::string ErrorText(Error err);

// An open file: a descriptor on POSIX, a HANDLE on Windows.
using File = std::intptr_t;
inline constexpr File kNoFile = -1;

enum class Kind { Missing, Regular, Folder, Device, Pipe, Socket, Other };
struct FileInfo {
  Kind kind = Kind::Missing;
  std::uint64_t size = 0;  // of a regular file; else 0
};

// What path names, links followed.
FileInfo Stat(const std::string& path);

// Opens path for reading from its start. Folders fail with kIsFolder. With
// mayBlock false, opening a named pipe does not wait for a writer.
Error OpenForReading(const std::string& path, File& file, FileInfo& info, bool mayBlock = true);
// Reads up to cap bytes; got is 0 at the end.
Error ReadSome(File file, char* buf, std::size_t cap, std::size_t& got);
Error SeekTo(File file, std::uint64_t offset);
// Writes all n bytes at the current position.
Error WriteAll(File file, const char* p, std::size_t n);
// Positioned reads and writes, leaving the current position alone.
Error WriteAt(File file, const char* p, std::size_t n, std::uint64_t offset);
Error ReadAt(File file, char* buf, std::size_t cap, std::uint64_t offset, std::size_t& got);
Error SizeOf(File file, std::uint64_t& size);
Error Truncate(File file, std::uint64_t size);
// Space for the bytes from..from+n set aside ahead of writing them, the file
// made that long; false where the file system cannot. Even then the file may
// have grown part of the way: the caller truncates it to its text.
bool Reserve(File file, std::uint64_t from, std::uint64_t n);
// Closes file; the error is that of the last writes the system deferred.
Error Close(File file);
void Remove(const std::string& path);
// Whether path can be opened for appending, as a later write will open it. An
// existing file keeps its content; one created only for the test is removed
// again, so that a refused request leaves no empty file behind.
bool CanAppendTo(const std::string& path);

// Whether the regular file at path (a link itself is no such file) is marked
// read-only: no write permission for anybody (POSIX), or the read-only
// attribute (Windows). Such a target is refused rather than replaced.
bool ReadOnlyFile(const std::string& path);

// What an output's target is, found in one look where the system allows:
// opening and committing an output ask it once each, since every lookup of a
// name that is not there costs (under Wine, a scan of the folder).
struct TargetState {
  Kind kind = Kind::Missing;  // links followed
  bool readOnly = false;      // as ReadOnlyFile says
  unsigned mode = 0;          // POSIX permission bits of an existing target
  bool device() const { return kind == Kind::Device || kind == Kind::Pipe; }
};
TargetState InspectTarget(const std::string& path);
// Opens a device or a named pipe at path (links followed) for writing, as it
// is: nothing is created or emptied. Waiting for a pipe's reader ends when the
// run is interrupted. kBusy when path is a regular file after all.
Error OpenDevice(const std::string& path, File& file);

// Fills n bytes with random ones from the system; false when it has none.
bool RandomBytes(void* p, std::size_t n);

// What tells one file from another on its volume, so that a file put at a
// temporary's name later is not taken for it.
struct FileId {
  std::uint64_t volume = 0, index = 0;
  bool operator==(const FileId&) const = default;
};

// The temporaries an output is written to. A temporary is held (locked) while
// its file is open here, so that another run sees it as in use.
//
// Creates a new temporary at stem followed by random hexadecimal digits, never
// a file that was there before (no link is followed; another name is tried on
// a collision), readable and writable by its owner only, and held. path gets
// its name, id its identity.
Error CreateTemporary(const std::string& stem, std::string& path, File& file, FileId& id);
// Removes path when it is a temporary that a killed run left behind: a
// regular file with one link, owned by this user (POSIX), that nobody holds.
// Anything else there is left alone.
void RemoveStale(const std::string& path);
// Opens a parked temporary again for appending, if it is still the file id
// of that size that was parked; kBusy when another run took it over or
// something else now has its name.
Error ReopenTemporary(const std::string& path, const FileId& id, std::uint64_t size, File& file);
// Gives the temporary the permissions of the target it replaces (target, as
// InspectTarget found it), or those of a new file; done last, so that nobody
// else may open it while it is written.
void MatchPermissions(File file, const TargetState& target);
// Closes the temporary (unless file is kNoFile) and moves it into target's
// place at once, replacing the target. On failure the target stays as it was
// and the temporary is removed.
Error ReplaceTarget(File file, const std::string& temporary, const std::string& target);
// Removes a temporary and closes it (unless file is kNoFile), in the order
// that leaves no moment in which another run could take it.
void RemoveTemporary(File file, const std::string& path);

// An unnamed file in folder dir ("" for the current one) that the system
// removes when it is closed.
Error CreateScratch(const std::string& dir, File& file);

// Calls found(name, kind) for each entry of folder dir ("" for the current
// one), names starting with "." left out unless withHidden, and on Windows
// hidden and system files left out unless everything (as the desktop hides
// them; Wine marks names starting with "." hidden too); false
// when the folder cannot be read.
bool ListFolder(const std::string& dir, bool withHidden,
                const std::function<void(std::string_view name, Kind kind)>& found,
                bool everything = false);
// The name of the file at path as the folder stores it (on a case-insensitive
// file system it may differ in case from the name asked for); the asked-for
// name where it cannot be told.
std::string StoredName(const std::string& path);
// Whether a and b are one file (same device and file number); false when
// either cannot be opened.
bool SameFileId(const std::string& a, const std::string& b);
// Creates path's folders that are missing.
void CreateFolders(const std::string& path);

std::string ProgramPath();  // of the running executable; empty when unknown

#ifdef _WIN32
// Text as the system's wide (UTF-16) calls take it, and back: for the Windows
// window, which calls the system's user interface itself.
std::wstring Utf16(std::string_view utf8);
std::string Utf8(std::wstring_view utf16);
#endif
std::string CurrentDirectory();
bool ChangeDirectory(const std::string& path);
// The program's arguments, without its name, as UTF-8: on Windows taken from
// the wide command line, since the narrow argv loses what the ANSI code page
// cannot hold.
std::vector<std::string> Arguments(int argc, char** argv);
// A value from the environment, or empty text.
std::string Environment(const char* name);

// Zeroed pages from the system, or null; Unmap takes the same bytes back.
void* MapZeroed(std::size_t bytes);
void Unmap(void* p, std::size_t bytes);
void AdviseHugePages(void* p, std::size_t bytes);

// The per-user settings store of this platform.
std::unique_ptr<SettingsStore> UserSettings();

// Whether folder dir ("" for the current one) takes names that differ only in
// letter case for one file: on Windows always (a folder made case-sensitive
// for Linux tools only has more names joined than it needs); on Linux a FAT or
// exFAT volume, a casefold folder, or any other where a name's case-swapped
// twin finds the same file. A folder that cannot be told (missing, not
// writable) counts as keeping them apart.
bool FolderIgnoresCase(const std::string& dir);

// Marks this process as a running Marklode until it ends, so that the
// installer and the uninstaller can tell (on Windows a named mutex,
// kRunningMark; nothing elsewhere).
void MarkRunning();
#ifdef _WIN32
// Also in packaging/windows/marklode.nsi.
inline constexpr const char* kRunningMark = "Marklode.Running";
#endif

#ifndef _WIN32
// Whether a program listens on the local (Unix domain) socket at path, or
// under the abstract name path when abstract.
bool LocalSocketAnswers(const std::string& path, bool abstract);
// Replaces this process with the program at path (no PATH lookup), given
// args after its name, in the same environment. Returns only on failure.
Error ReplaceProcess(const std::string& path, const std::vector<std::string>& args);
#endif

// The processors this process may run on (its affinity mask), at least 1.
int UsableCores();

// Whether a new file could be created in folder, found without creating
// anything: 0, or the error creating one there would give (folder missing,
// not a folder, no write permission on POSIX).
Error CouldCreateIn(const std::string& folder);

}  // namespace os
}  // namespace marklode

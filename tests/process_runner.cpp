#include "tests/process_runner.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace marklode::test {
namespace {

std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// A scratch folder of the run's three streams.
class StreamFiles {
 public:
  StreamFiles() {
    static std::atomic<unsigned> serial{0};
    const auto base = std::filesystem::temp_directory_path();
#ifdef _WIN32
    const unsigned long pid = ::GetCurrentProcessId();
#else
    const unsigned long pid = static_cast<unsigned long>(::getpid());
#endif
    for (;;) {
      dir_ = base / ("marklode-run-" + std::to_string(pid) + "-" + std::to_string(serial++));
      if (std::filesystem::create_directory(dir_)) break;
    }
  }
  ~StreamFiles() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::filesystem::path operator/(const char* name) const {
    return dir_ / name;
  }

 private:
  std::filesystem::path dir_;
};

#ifdef _WIN32
std::wstring Wide(const std::string& s) {
  if (s.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

// One argument as CommandLineToArgvW and the C runtime read it back:
// backslashes double only before a quote.
void AppendQuoted(std::wstring& line, const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  for (auto it = arg.begin();; ++it) {
    std::size_t slashes = 0;
    while (it != arg.end() && *it == L'\\') ++it, ++slashes;
    if (it == arg.end()) {
      line.append(slashes * 2, L'\\');
      break;
    }
    if (*it == L'"')
      line.append(slashes * 2 + 1, L'\\');
    else
      line.append(slashes, L'\\');
    line += *it;
  }
  line += L'"';
}

bool SameName(const std::wstring& entry, const std::wstring& name) {
  return entry.size() > name.size() && entry[name.size()] == L'=' &&
         ::CompareStringOrdinal(entry.data(), static_cast<int>(name.size()), name.data(),
                                static_cast<int>(name.size()), TRUE) == CSTR_EQUAL;
}

HANDLE OpenInherited(const std::filesystem::path& p, bool write) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return ::CreateFileW(p.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}
#endif

}  // namespace

ProcessResult RunProcess(const ProcessRequest& req) {
  ProcessResult r;
  if (req.argv.empty()) {
    r.failure = "no program";
    return r;
  }
  StreamFiles files;
  std::ofstream(files / "in", std::ios::binary) << req.stdinText;
#ifdef _WIN32
  // The environment: ours, less what is taken out or replaced, then the
  // additions; a block of "NAME=value" strings, each ended by a NUL.
  std::vector<std::wstring> entries;
  if (wchar_t* block = ::GetEnvironmentStringsW()) {
    for (const wchar_t* p = block; *p; p += std::wcslen(p) + 1) entries.emplace_back(p);
    ::FreeEnvironmentStringsW(block);
  }
  auto drop = [&](const std::wstring& name) {
    std::erase_if(entries, [&](const std::wstring& e) { return SameName(e, name); });
  };
  for (const auto& name : req.unsetEnv) drop(Wide(name));
  for (const auto& [name, value] : req.env) {
    drop(Wide(name));
    entries.push_back(Wide(name + "=" + value));
  }
  std::wstring envBlock;
  for (const auto& e : entries) envBlock.append(e).push_back(L'\0');
  envBlock.push_back(L'\0');

  std::wstring line;
  for (const auto& a : req.argv) {
    if (!line.empty()) line += L' ';
    AppendQuoted(line, Wide(a));
  }
  HANDLE in = OpenInherited(files / "in", false);
  HANDLE out = OpenInherited(files / "out", true);
  HANDLE err = OpenInherited(files / "err", true);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi{};
  const std::wstring program = Wide(req.argv[0]);
  const std::wstring workDir = Wide(req.workDir);
  const BOOL started =
      ::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                       CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, envBlock.data(),
                       workDir.empty() ? nullptr : workDir.c_str(), &si, &pi);
  ::CloseHandle(in);
  ::CloseHandle(out);
  ::CloseHandle(err);
  if (!started) {
    r.failure = "CreateProcessW failed with error " + std::to_string(::GetLastError());
    return r;
  }
  ::WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  r.status = static_cast<int>(code);
#else
  std::vector<std::string> entries;
  auto drop = [&](const std::string& name) {
    std::erase_if(entries, [&](const std::string& e) { return e.starts_with(name + "="); });
  };
  for (char** e = environ; *e; ++e) entries.emplace_back(*e);
  for (const auto& name : req.unsetEnv) drop(name);
  for (const auto& [name, value] : req.env) {
    drop(name);
    entries.push_back(name + "=" + value);
  }
  std::vector<char*> envp, argv;
  for (auto& e : entries) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = req.argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string in = files / "in", out = files / "out", err = files / "err";
  posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (!req.workDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, req.workDir.c_str());
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    r.failure = std::string("posix_spawnp: ") + std::strerror(rc);
    return r;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
  r.out = Slurp(files / "out");
  r.err = Slurp(files / "err");
  return r;
}

std::string WineDriveZPath(const std::string& path) {
#ifdef _WIN32
  using UnixName = char*(CDECL*)(LPCWSTR);
  const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!unixName) return {};
  char* name = unixName(Wide(path).c_str());
  if (!name) return {};
  std::string out = "Z:";
  for (const char* p = name; *p; ++p) out += *p == '/' ? '\\' : *p;
  ::HeapFree(::GetProcessHeap(), 0, name);
  return out;
#else
  (void)path;
  return {};
#endif
}

}  // namespace marklode::test

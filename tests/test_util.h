// Shared test fixtures: a scratch folder, file helpers and a run context whose
// messages and settings stay in memory.
#pragma once

#ifndef _WIN32
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/profiles.h"
#include "engine/run.h"
#include "engine/run_report.h"

namespace marklode::test {

// Paths in the tests are UTF-8 strings. A path built from a std::string takes
// it in the code page on Windows, which garbles any name beyond ASCII.
inline std::filesystem::path FsPath(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string Utf8(const std::filesystem::path& p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

#ifdef _WIN32
constexpr char kSep = '\\';
#else
constexpr char kSep = '/';
#endif

// A fresh folder of its own under the system's temporary folder, private to
// its owner, removed with everything in it at the end. Names joined with "/" get the platform's
// separator, so that paths look as a user of the platform types them.
class TempDir {
 public:
  TempDir() {
    static std::atomic<unsigned> serial{0};
    const auto base = std::filesystem::temp_directory_path();
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (;;) {
      const auto dir = base / ("marklode-test-" + std::to_string(stamp % 1000000007) + "-" +
                               std::to_string(serial++));
      if (std::filesystem::create_directory(dir)) {
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all);  // private
        path_ = Utf8(dir);
        break;
      }
    }
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(FsPath(path_), std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(FsPath(path_), ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string operator/(std::string_view name) const {
    std::string out = path_ + kSep;
    for (char c : name) out += c == '/' ? kSep : c;
    return out;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, std::string_view data) {
  std::ofstream out(FsPath(path), std::ios::binary);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(FsPath(path), std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline bool Exists(const std::string& path) {
  return std::filesystem::exists(FsPath(path));
}

// Names of the entries in a folder, sorted, to show that nothing else was written.
inline std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(FsPath(dir)))
    names.push_back(Utf8(e.path().filename()));
  std::sort(names.begin(), names.end());
  return names;
}

// Runs requests with messages and settings in memory: the request to run is
// set up in `request`, what the last run did is in `result`.
struct Harness {
  RecordingMessageSink messages;
  MemorySettingsStore settings;
  RunServices services{messages, settings};
  Request request;
  RunResult result;

  RunStatus Run(Direction direction) {
    request.direction = direction;
    result = RunRequest(request, services);
    return result.status;
  }
  RunStatus ToPoi() { return Run(Direction::GpxToPoi); }
  RunStatus ToGpx() { return Run(Direction::PoiToGpx); }
  // The profile's request, as the command line's "/p" runs it.
  RunStatus RunProfile(const std::string& profile) {
    request = ReadProfileRequest(profile, messages);
    return Run(request.direction);
  }
};

// Turns "\n" into CR LF, so fixtures can be written readably.
inline std::string Crlf(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// text as UTF-16 (width 2, surrogate pairs beyond U+FFFF) or UTF-32 (width 4)
// in either byte order, without a byte order mark.
inline std::string EncodeUtf(std::u32string_view text, int width, bool bigEndian) {
  std::string out;
  auto unit = [&](std::uint32_t u) {
    for (int i = 0; i < width; ++i) {
      const int shift = 8 * (bigEndian ? width - 1 - i : i);
      out += static_cast<char>((u >> shift) & 0xFF);
    }
  };
  for (char32_t c : text) {
    if (width == 2 && c > 0xFFFF) {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      unit(c);
    }
  }
  return out;
}

#ifndef _WIN32
// Runs body in a child process without the rights of root, so that file
// permissions bind as they do for a user: as root the child first becomes
// "nobody" (user and group 65534, no other groups); as anyone else it stays
// who it is. Returns what body returned; a child that could not give up its
// rights or did not end normally returns a text beginning with "child: ".
// Files the body must reach need permissions for others: a TempDir is
// private to its owner until opened with OpenToOthers.
inline std::string AsUnprivileged(const std::function<std::string()>& body) {
  int fds[2];
  if (::pipe(fds) != 0) return "child: no pipe";
  std::fflush(nullptr);  // what is buffered is written once, by the parent
  const pid_t pid = ::fork();
  if (pid < 0) return "child: no fork";
  if (pid == 0) {
    ::close(fds[0]);
    std::string said;
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      said = "child: could not become nobody";
    } else {
      try {
        said = body();
      } catch (const std::exception& e) {
        said = std::string("child: threw ") + e.what();
      }
    }
    for (std::size_t done = 0; done < said.size();) {
      const ssize_t n = ::write(fds[1], said.data() + done, said.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::_exit(0);  // no test framework teardown in the child
  }
  ::close(fds[1]);
  std::string said;
  char buf[4096];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
    said.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child: ended abnormally; " + said;
  return said;
}

// Lets others into a folder (read and search) and write there, so that a
// body run AsUnprivileged can reach it and could create files in it.
inline void OpenToOthers(const std::string& dir) {
  std::filesystem::permissions(dir, std::filesystem::perms::all);
}
#endif

// text with every mention of folder, as written and as the report's JSON
// writes it, replaced by "DIR": a test's folder differs from run to run.
inline std::string WithoutFolder(std::string text, const std::string& folder) {
  const std::string quoted = JsonString(folder);
  for (const std::string& d : {folder, quoted.substr(1, quoted.size() - 2)})
    for (std::size_t at; (at = text.find(d)) != std::string::npos;)
      text.replace(at, d.size(), "DIR");
  return text;
}

}  // namespace marklode::test

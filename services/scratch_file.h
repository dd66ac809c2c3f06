// An anonymous scratch file for text that has to wait, so that it need not
// wait in memory: created in a given folder (the output's, which has room for
// the output anyway), it has no name, and the system removes it when it is
// closed, however the run ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "services/os.h"

namespace marklode {

class ScratchFile {
 public:
  // Opens one in dir ("" for the current folder); ok() says whether it could.
  explicit ScratchFile(std::string_view dir);
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  bool ok() const { return fd_ != os::kNoFile; }
  // Appends bytes whole, or fails (an os::Error) leaving the size as it was:
  // the bytes written before stay readable.
  int Write(std::string_view bytes);
  std::uint64_t size() const { return size_; }
  // Reads the file from its start, up to n bytes at a time into buf; 0 at the
  // end. err is set (an os::Error) when a read fails.
  std::size_t Read(char* buf, std::size_t n, int& err);

 private:
  os::File fd_ = os::kNoFile;
  std::uint64_t size_ = 0, read_ = 0;
};

}  // namespace marklode

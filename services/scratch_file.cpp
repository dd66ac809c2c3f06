#include "services/scratch_file.h"

#include <string>

namespace marklode {

ScratchFile::ScratchFile(std::string_view dir) {
  os::CreateScratch(std::string(dir), fd_);
}

ScratchFile::~ScratchFile() {
  if (fd_ != os::kNoFile) os::Close(fd_);
}

int ScratchFile::Write(std::string_view bytes) {
  if (fd_ == os::kNoFile) return os::kBadFile;
  const int err = os::WriteAt(fd_, bytes.data(), bytes.size(), size_);
  if (err == 0) size_ += bytes.size();
  return err;
}

std::size_t ScratchFile::Read(char* buf, std::size_t n, int& err) {
  if (fd_ == os::kNoFile || read_ >= size_) return 0;
  if (n > size_ - read_) n = static_cast<std::size_t>(size_ - read_);
  std::size_t got = 0;
  err = os::ReadAt(fd_, buf, n, read_, got);
  if (err == 0 && got == 0) err = os::kIoError;  // shorter than what was written
  if (err != 0) return 0;
  read_ += got;
  return got;
}

}  // namespace marklode

#include "services/text_files.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>

#include "services/platform.h"
#include "services/sync.h"

namespace marklode {

std::string ErrorDescription(int err) {
  if (err == os::kIsFolder) return "Is a folder, not a file";
  if (err == kReadOnly) return "The file is read-only";
  return os::ErrorText(err);
}

bool ReadWholeFile(const std::string& path, std::string& out, std::uint64_t limit) {
  out.clear();
  os::File f;
  os::FileInfo info;
  // Not blocking: a named pipe there must not hang the program.
  if (os::OpenForReading(path, f, info, false) != 0) return false;
  bool ok = info.kind == os::Kind::Regular && info.size <= limit;
  if (ok) {
    out.resize(static_cast<std::size_t>(info.size));
    std::size_t got = 0, n = 0;
    while (got < out.size() && os::ReadSome(f, out.data() + got, out.size() - got, n) == 0 && n > 0)
      got += n;
    out.resize(got);  // a file that shrank meanwhile
  }
  os::Close(f);
  return ok;
}

std::size_t MemorySource::Read(char* buf, std::size_t cap) {
  std::size_t n = std::min(cap, data_.size() - pos_);
  std::memcpy(buf, data_.data() + pos_, n);
  pos_ += n;
  return n;
}

bool MemorySource::Seek(std::uint64_t offset) {
  if (offset > data_.size()) return false;
  pos_ = static_cast<std::size_t>(offset);
  return true;
}

InputFile::~InputFile() {
  if (fd_ != os::kNoFile) os::Close(fd_);
}

bool InputFile::Open(const std::string& path) {
  path_ = path;
  os::FileInfo info;
  if (const int err = os::OpenForReading(path, fd_, info)) {
    ShowWarning(sink_, title_, ErrorDescription(err), path);
    failed_ = true;
    return false;
  }
  size_ = info.size;
  return true;
}

bool InputFile::Seek(std::uint64_t offset) {
  return fd_ != os::kNoFile && os::SeekTo(fd_, offset) == 0;
}

std::size_t InputFile::Read(char* buf, std::size_t cap) {
  if (fd_ == os::kNoFile) return 0;
  std::size_t n = 0;
  const int err = os::ReadSome(fd_, buf, cap, n);
  if (n > 0) return n;
  if (err != 0) {
    ShowWarning(sink_, title_, ErrorDescription(err), path_);
    failed_ = true;
  }
  os::Close(fd_);
  fd_ = os::kNoFile;
  return 0;
}

namespace {
constexpr std::size_t kWriteBuffer = 256 * 1024;

bool WriteAll(os::File fd, const char* p, std::size_t n, int& err) {
  err = os::WriteAll(fd, p, n);
  return err == 0;
}
}  // namespace

// Writes chunks straight to the descriptor, on whichever thread hands them
// over, so the text is still in that core's cache when the kernel copies it.
// The first error stops the writing and is kept for the owner to report:
// messages belong to the owner's thread.
class OutputFile::DirectChunks : public ChunkSink {
 public:
  // Text is only ever appended, so it ends where the file does. A device
  // or pipe has no size to go by, and no space to reserve.
  DirectChunks(os::File fd, bool device, std::uint64_t expected)
      : fd_(fd), expected_(expected), reserving_(!device) {
    if (!device) err_ = os::SizeOf(fd, end_);
  }
  bool Submit(ByteBuffer& chunk) override {
    if (err_ == 0) {
      Reserve(end_ + chunk.size());
      if (err_ == 0 && WriteAll(fd_, chunk.data(), chunk.size(), err_)) end_ += chunk.size();
    }
    chunk.clear();
    return err_ == 0;
  }
  // Gives back the space reserved beyond the text; returns the first error, or 0.
  int Finish() {
    if (err_ == 0 && reserved_ > end_) err_ = os::Truncate(fd_, end_);
    reserved_ = 0;
    return err_;
  }

 private:
  // A big output reserves its disk space ahead, from its first byte: the file
  // system then only maps each page written, which makes writing a quarter
  // cheaper, and renaming it over an old file does not first have to write it
  // out (ext4 does so for a file with space still to allocate). A small one
  // reserves nothing: it costs little either way. Where reserving fails the
  // writes go on without.
  void Reserve(std::uint64_t need) {
    constexpr std::uint64_t kSmall = 1 << 20, kStep = 32 << 20;
    if (need <= reserved_ || !reserving_ || std::max(need, expected_) < kSmall) return;
    // Ahead by a quarter of the text, so that a big one takes few calls; the
    // first time, as far as the estimate goes.
    std::uint64_t upto = need + std::clamp(need / 4, kSmall, kStep);
    if (reserved_ == 0) upto = std::max(upto, expected_);
    const std::uint64_t from = std::max(end_, reserved_);
    if (os::Reserve(fd_, from, upto - from)) {
      reserved_ = upto;
    } else {
      // It may have grown the file part of the way: the text ends at end_.
      // Only then is it cut back: cutting a file to nothing (where nothing
      // was reserved, as on Windows) makes ext4 write all of it out when it
      // is closed.
      reserving_ = false;
      std::uint64_t size = 0;
      if (os::SizeOf(fd_, size) != 0 || size != end_) err_ = os::Truncate(fd_, end_);
      reserved_ = 0;
    }
  }

  const os::File fd_;
  std::uint64_t end_ = 0;       // of the text written
  std::uint64_t reserved_ = 0;  // the file's length while space is reserved ahead
  const std::uint64_t expected_;
  bool reserving_;
  int err_ = 0;
};

void ByteBuffer::Grow(std::size_t more) {
  // Room to spare after a long piece: the short ones that follow it fit,
  // instead of doubling a buffer that holds it (and copying it once more).
  const std::size_t cap = std::max({cap_ * 2, size_ + more + more / 16, std::size_t{4096}});
  auto bigger = std::make_unique_for_overwrite<char[]>(cap);
  if (size_ > 0) std::memcpy(bigger.get(), data_.get(), size_);
  data_ = std::move(bigger);
  cap_ = cap;
}

OutputFile::OutputFile(MessageSink& sink, std::string target, std::string title)
    : sink_(sink),
      target_(std::move(target)),
      title_(std::move(title)),
      bufferLimit_(kWriteBuffer) {}

OutputFile::~OutputFile() {
  Discard();
}

void OutputFile::Fail(int err) {
  broken_ = true;
  if (reported_) return;  // one warning per output, however many records it loses
  reported_ = true;
  if (err == os::kInterrupted) return;          // the run stops and says so itself
  if (err == os::kNotFound && temp_.empty()) {  // the folder of the target is missing
    ShowWarning(sink_, title_, "Path not found", target_);
  } else {
    ShowWarning(sink_, title_, ErrorDescription(err), target_);
  }
}

void OutputFile::GiveUp(int err) {
  Fail(err);
}

namespace {

constexpr std::size_t kTempNameBytes = 32;

bool ShortOfDescriptors(int err) {
  return os::ShortOfHandles(err);
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

// The temporaries that killed runs left behind, found by reading each folder
// once a minute at most (not once per output: a list of thousands of files in
// one folder would read it thousands of times), kept by the stem of their
// target.
// An output removes those of its own target that nobody holds, so a run never
// touches what a running conversion of another target has parked.
class Leftovers {
 public:
  void Sweep(const std::string& stem) {
    const std::string_view folder = DirectoryPart(stem);
    std::vector<std::string> names;
    {
      std::lock_guard<Mutex> lock(mutex_);
      const auto now = std::chrono::steady_clock::now();
      auto listed = folders_.find(folder);
      if (listed == folders_.end()) {
        listed = folders_.emplace(std::string(folder), Listed{List(folder), now}).first;
      } else if (now - listed->second.when > kListingLife) {
        listed->second = Listed{List(folder), now};  // a window may run for days
      }
      ByStem& byStem = listed->second.byStem;
      const auto found = byStem.find(FileNamePart(stem));
      if (found == byStem.end()) return;
      names = std::move(found->second);
      byStem.erase(found);
    }
    for (const std::string& name : names) os::RemoveStale(std::string(folder).append(name));
  }

 private:
  using ByStem = std::map<std::string, std::vector<std::string>, std::less<>>;

  // The names that look like temporaries: a stem, then random digits (or a
  // slot number, as earlier versions named them).
  static ByStem List(std::string_view folder) {
    static constexpr std::string_view kMark = ".marklode-";
    ByStem found;
    const auto keep = [&](std::string_view name, os::Kind) {
      const std::size_t mark = name.rfind(kMark);
      if (name.empty() || name[0] != '.' || mark == std::string_view::npos) return;
      const std::string_view tail = name.substr(mark + kMark.size());
      if ((tail.size() != 1 && tail.size() != 16) ||
          !std::all_of(tail.begin(), tail.end(), IsHexDigit))
        return;
      const std::string_view stem = name.substr(0, mark + kMark.size());
      auto it = found.find(stem);
      if (it == found.end())
        it = found.emplace(std::string(stem), std::vector<std::string>()).first;
      it->second.emplace_back(name);
    };
    os::ListFolder(std::string(folder), true, keep, true);
    return found;
  }

  struct Listed {
    ByStem byStem;
    std::chrono::steady_clock::time_point when;
  };
  // How long a folder's listing serves: long enough that a list of many
  // files reads its folder a few times at most, short enough that a program
  // left open still finds what later killed runs leave.
  static constexpr std::chrono::seconds kListingLife{60};

  Mutex mutex_;
  std::map<std::string, Listed, std::less<>> folders_;
};

Leftovers& TheLeftovers() {
  static Leftovers leftovers;
  return leftovers;
}

}  // namespace

std::string TemporaryStem(std::string_view target) {
  const std::string_view name = FileNamePart(target);
  std::uint64_t h = 14695981039346656037ull;  // FNV-1a
  for (char c : name) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  std::size_t keep = std::min(name.size(), kTempNameBytes);
  while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
    --keep;  // never cut a UTF-8 sequence
  static constexpr char kHex[] = "0123456789abcdef";
  std::string stem(DirectoryPart(target));
  stem += '.';
  stem.append(name.substr(0, keep));
  stem += '.';
  for (int shift = 60; shift >= 0; shift -= 4) stem += kHex[(h >> shift) & 15];
  stem += ".marklode-";
  return stem;
}

// The temporary sits beside the target so that the final rename stays on one
// file system and is atomic; a hidden name keeps it out of directory lookups.
// Its name ends in random digits and it is always a new file, so nothing put
// there beforehand (a link, a pipe, another user's file) can receive the
// output. The stem is the target's, so that the leftovers of killed runs for
// the same target can be found and removed.
int OutputFile::CreateTemp() {
  const std::string stem = TemporaryStem(target_);
  TheLeftovers().Sweep(stem);
  std::string path;
  const int err = os::CreateTemporary(stem, path, fd_, id_);
  if (err == 0) temp_ = std::move(path);
  return err;
}

// A target that is a device or a named pipe (/dev/null, /dev/stdout, NUL) is
// written straight through: replacing it would put a plain file in its place.
int OutputFile::OpenDirect() {
  const int err = os::OpenDevice(target_, fd_);
  if (err == 0) direct_ = true;
  return err;
}

int OutputFile::Reopen() {
  const int err = os::ReopenTemporary(temp_, id_, parkedSize_, fd_);
  if (err == os::kBusy) temp_.clear();  // not ours to remove any more
  return err;
}

int OutputFile::Open() {
  if (fd_ != os::kNoFile) return 0;
  if (broken_) return os::kIoError;
  int err;
  if (!temp_.empty()) {
    err = Reopen();
  } else if (const os::TargetState target = os::InspectTarget(target_); target.readOnly) {
    err = kReadOnly;
  } else {
    // A device or a named pipe, links followed, is written through, never
    // replaced.
    err = target.device() ? OpenDirect() : os::kBusy;
    if (err == os::kBusy) err = CreateTemp();  // a plain file after all
  }
  if (err == 0) {
    buf_.Reserve(bufferLimit_);
  } else if (!ShortOfDescriptors(err)) {
    Fail(err);
  }
  return err;
}

bool OutputFile::OpenTemp() {
  if (fd_ != os::kNoFile) return true;
  const int err = Open();
  if (err != 0 && ShortOfDescriptors(err)) Fail(err);
  return err == 0;
}

bool OutputFile::Flush() {
  if (buf_.empty()) return true;
  int err = 0;
  if (fd_ == os::kNoFile || !WriteAll(fd_, buf_.data(), buf_.size(), err)) {
    buf_.clear();
    Fail(err ? err : os::kBadFile);
    return false;
  }
  buf_.clear();
  return true;
}

bool OutputFile::Write(std::string_view text) {
  if (broken_) return false;
  if (!OpenTemp()) return false;
  if (buf_.size() + text.size() > bufferLimit_) {
    if (!Flush()) return false;
    if (text.size() > bufferLimit_) {
      int err = 0;
      if (!WriteAll(fd_, text.data(), text.size(), err)) {
        Fail(err);
        return false;
      }
      return true;
    }
  }
  buf_.Append(text);
  return true;
}

ChunkSink* OutputFile::Chunks(std::uint64_t expected) {
  if (broken_ || !OpenTemp()) return nullptr;
  if (!Flush()) return nullptr;  // what came before goes first
  if (!chunks_) chunks_ = std::make_unique<DirectChunks>(fd_, direct_, expected);
  return chunks_.get();
}

// Takes back the chunk sink; false (reported once) when a chunk failed.
bool OutputFile::EndChunks() {
  if (!chunks_) return !broken_;
  const int err = chunks_->Finish();
  chunks_.reset();
  if (err != 0 && !broken_) Fail(err);
  return !broken_;
}

bool OutputFile::Park() {
  if (fd_ == os::kNoFile) return !broken_;
  if (direct_) return Flush() && EndChunks();  // a pipe closed and opened again would end early
  bool ok = Flush();
  ok = EndChunks() && ok;
  if (os::SizeOf(fd_, parkedSize_) != 0) parkedSize_ = 0;
  os::Close(fd_);
  fd_ = os::kNoFile;
  buf_ = ByteBuffer();
  return ok;
}

bool OutputFile::Commit() {
  if (direct_) return CloseDirect();
  if (temp_.empty()) return false;
  bool ok = !broken_ && Flush();
  ok = EndChunks() && ok;
  const os::TargetState target = ok ? os::InspectTarget(target_) : os::TargetState{};
  // Only the owner may open the temporary while it is written; it takes its
  // final permissions just before it takes the target's place.
  if (ok && fd_ != os::kNoFile) os::MatchPermissions(fd_, target);
  if (ok && fd_ == os::kNoFile) {  // parked: take it back for the replacement
    const int err = Reopen();
    if (err == 0) {
      os::MatchPermissions(fd_, target);
    } else if (!ShortOfDescriptors(err)) {
      Fail(err);
      ok = false;
    }
  }
  if (ok && target.device()) {  // became one while the run wrote
    Fail(os::kBusy);
    ok = false;
  }
  if (!ok) {
    os::RemoveTemporary(fd_, temp_);
  } else if (const int err = os::ReplaceTarget(fd_, temp_, target_)) {
    // (Short of descriptors, a parked temporary is moved without its lock.)
    Fail(err);
    ok = false;
  }
  fd_ = os::kNoFile;
  temp_.clear();
  return ok;
}

// The bytes written to a device or pipe cannot be taken back: Commit and
// Discard both end the writing.
bool OutputFile::CloseDirect() {
  bool ok = !broken_ && Flush();
  ok = EndChunks() && ok;
  const int err = os::Close(fd_);
  fd_ = os::kNoFile;
  direct_ = false;
  if (ok && err != 0) Fail(err);
  return ok && err == 0;
}

void OutputFile::Discard() {
  chunks_.reset();
  if (direct_) {
    buf_.clear();
    CloseDirect();
    return;
  }
  if (fd_ == os::kNoFile && !temp_.empty()) Reopen();  // a parked one may have been taken over
  if (!temp_.empty()) {
    os::RemoveTemporary(fd_, temp_);
  } else if (fd_ != os::kNoFile) {
    os::Close(fd_);
  }
  fd_ = os::kNoFile;
  temp_.clear();
  buf_.clear();
}

bool SysPutTextFile(MessageSink& sink, const std::string& path, std::string_view text) {
  OutputFile out(sink, path, "SYSputTextLine");
  if (!out.Write(text) || !out.Write("\r\n")) return false;
  return out.Commit();
}

int OutputFile::WouldOpen() {
  int err = 0;
  if (const os::TargetState target = os::InspectTarget(target_); target.readOnly) {
    err = kReadOnly;
  } else if (!target.device()) {
    err = os::CouldCreateIn(std::string(DirectoryPart(target_)));
  }
  if (err != 0) Fail(err);
  return err;
}

}  // namespace marklode

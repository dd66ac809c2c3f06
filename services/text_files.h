// Line-oriented file input and output. Files are read in large blocks and
// written through buffers; outputs go to a temporary file beside the target and
// are renamed into place only when complete, so a failed or cancelled run leaves
// an existing file as it was. Failures are reported as warnings titled with the
// routine's name ("SYSgetTextLine", "PutTextLine", "SYSputTextLine").
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "services/messages.h"
#include "services/os.h"

namespace marklode {

// A source of bytes, read in blocks. Read returns 0 at the end or after an
// error (already reported).
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::size_t Read(char* buf, std::size_t cap) = 0;
  virtual std::uint64_t Size() const { return 0; }  // 0 when unknown
  // Reads on from offset; false where the source cannot (a pipe, a decoder).
  virtual bool Seek(std::uint64_t) { return false; }
};

class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string_view data) : data_(data) {}
  std::size_t Read(char* buf, std::size_t cap) override;
  std::uint64_t Size() const override { return data_.size(); }
  bool Seek(std::uint64_t offset) override;

 private:
  std::string_view data_;
  std::size_t pos_ = 0;
};

// The title of the warnings about reading an input.
inline constexpr std::string_view kReadWarningTitle = "SYSgetTextLine";

class InputFile : public ByteSource {
 public:
  InputFile(MessageSink& sink, std::string_view title = kReadWarningTitle)
      : sink_(sink), title_(title) {}
  ~InputFile() override;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool Open(const std::string& path);        // reports and returns false on failure
  bool Seek(std::uint64_t offset) override;  // false on failure, or once the end was read
  std::size_t Read(char* buf, std::size_t cap) override;
  std::uint64_t Size() const override { return size_; }
  bool failed() const { return failed_; }

 private:
  MessageSink& sink_;
  std::string title_;
  std::string path_;
  os::File fd_ = os::kNoFile;
  std::uint64_t size_ = 0;
  bool failed_ = false;
};

// Copies n bytes to dst and returns the end. Text is built from many short
// pieces, and a call to the C library's memcpy for each costs more than the
// copy where that memcpy is not vectorised (the MinGW runtime's): up to 128
// bytes move as fixed-size words, the last one overlapping, which compile to
// plain loads and stores.
inline char* CopyBytes(char* dst, const char* src, std::size_t n) {
  const auto words = [&](auto word) {
    constexpr std::size_t w = sizeof word;
    decltype(word) a, b;
    std::memcpy(&a, src, w);
    std::memcpy(&b, src + n - w, w);
    std::memcpy(dst, &a, w);
    std::memcpy(dst + n - w, &b, w);
  };
  struct Block {
    std::uint64_t half[2];
  };
  if (n > 128) {
    std::memcpy(dst, src, n);
  } else if (n > 16) {
    Block b;
    for (std::size_t i = 0; i + 16 < n; i += 16) {
      std::memcpy(&b, src + i, 16);
      std::memcpy(dst + i, &b, 16);
    }
    std::memcpy(&b, src + n - 16, 16);
    std::memcpy(dst + n - 16, &b, 16);
  } else if (n >= 8) {
    words(std::uint64_t{});
  } else if (n >= 4) {
    words(std::uint32_t{});
  } else if (n > 0) {
    dst[0] = src[0];
    dst[n / 2] = src[n / 2];
    dst[n - 1] = src[n - 1];
  }
  return dst + n;
}

// A growable byte buffer that leaves new room unfilled: a writer asks for the
// most a piece can take, writes through the pointer and then says where it
// ended, so building text costs one check per piece instead of one per append.
class ByteBuffer {
 public:
  // Room for at least more bytes after the end; returns the end, a pointer
  // into the buffer even when more is 0.
  char* Reserve(std::size_t more) {
    if (cap_ - size_ < more || !data_) Grow(more);
    return data_.get() + size_;
  }
  // The bytes written from the last Reserve up to end now belong to the text.
  void Commit(const char* end) { size_ = static_cast<std::size_t>(end - data_.get()); }
  void Append(std::string_view text) {
    CopyBytes(Reserve(text.size()), text.data(), text.size());
    size_ += text.size();
  }
  const char* data() const { return data_.get(); }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void clear() { size_ = 0; }
  std::string_view view() const { return {data_.get(), size_}; }

 private:
  void Grow(std::size_t more);

  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0, cap_ = 0;
};

// The way in for chunks from a thread other than the output's owner. Submit
// writes the text in chunk and empties it; it never shows a message: after a
// failure it returns false, and the owner's Commit reports it.
class ChunkSink {
 public:
  virtual ~ChunkSink() = default;
  virtual bool Submit(ByteBuffer& chunk) = 0;
};

// One output file written to a temporary beside its target. Commit renames it
// into place; Discard (or destruction without Commit) removes it. An output
// reports its first failure only: later calls fail without a word.
//
// The temporary is named from a short hash of the target's name and random
// digits, so any name the file system allows for the target works and nobody
// can place anything at it beforehand. It is locked while this process may
// still write it: a later run for the same target removes the temporaries
// that a killed run left behind. A target that is a device or a named pipe
// is written straight through instead; a read-only one is refused.
class OutputFile {
 public:
  OutputFile(MessageSink& sink, std::string target, std::string title = "PutTextLine");
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Appends text. Creates the temporary on first use; false (reported) when it
  // cannot be created or written.
  bool Write(std::string_view text);
  // Creates the temporary, or reopens a parked one, ahead of Write. Returns 0
  // or the error; a shortage of descriptors (os::ShortOfHandles) is not reported,
  // so that the caller can close something and try again, or GiveUp.
  int Open();
  // Reports err as this output's failure; it is not tried again.
  void GiveUp(int err);
  // Opens the output for chunks from another thread; null (reported) when it
  // cannot be created. Until Commit or Discard, only the sink may be used.
  // expected is about how many bytes the chunks bring (0: not known): a big
  // output reserves its space ahead, and gives back what it did not use.
  ChunkSink* Chunks(std::uint64_t expected = 0);
  bool started() const { return !temp_.empty() || direct_; }
  bool failed() const { return broken_; }
  // How many bytes Write gathers before it writes them out (256 KB unless
  // told): many outputs open at once share a budget instead of each holding
  // a full buffer.
  void LimitBuffer(std::size_t bytes) { bufferLimit_ = bytes; }
  // Flushes and closes, keeping the temporary, so that many outputs need not
  // all stay open; the next Write reopens it.
  bool Park();
  // Flushes, closes and renames into place; false (reported) on failure, and
  // then the target is left as it was.
  bool Commit();
  void Discard();
  const std::string& target() const { return target_; }
  const std::string& temporary() const { return temp_; }
  // For a check that creates nothing: whether Open would fail on the target
  // as it is (read-only, its folder missing or not writable). Returns 0 or
  // the error, reported as Open would report it.
  int WouldOpen();

 private:
  class DirectChunks;

  bool OpenTemp();
  int CreateTemp();
  int OpenDirect();
  bool CloseDirect();
  int Reopen();
  bool Flush();
  bool EndChunks();
  void Fail(int err);

  MessageSink& sink_;
  std::string target_;
  std::string title_;
  std::string temp_;
  os::File fd_ = os::kNoFile;
  bool broken_ = false;    // a write failed: the temporary is incomplete
  bool reported_ = false;  // the one warning of this output was shown
  bool direct_ = false;    // a device or pipe, written straight through
  os::FileId id_;          // of the temporary, to know it again when reopened
  std::uint64_t parkedSize_ = 0;
  std::size_t bufferLimit_;
  ByteBuffer buf_;
  std::unique_ptr<DirectChunks> chunks_;  // while another thread writes
};

// The name stem that the temporaries of target share, before the random digits:
// the folder, ".", up to 32 bytes of the file name, ".", a hash of the whole
// file name and ".marklode-".
std::string TemporaryStem(std::string_view target);

// Writes text followed by CR LF to path, replacing the file only when the whole
// text was written (the way new profiles are written).
bool SysPutTextFile(MessageSink& sink, const std::string& path, std::string_view text);

// Reads the whole regular file at path when it holds at most limit bytes;
// false (nothing reported) otherwise.
bool ReadWholeFile(const std::string& path, std::string& out, std::uint64_t limit);

// Not a system error: an output refused because its target is read-only.
inline constexpr int kReadOnly = -0x524f;

// The platform's description of a system error (os::Error), or of kReadOnly,
// as shown in file warnings.
std::string ErrorDescription(int err);

}  // namespace marklode

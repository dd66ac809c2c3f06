// The KML inside a KMZ (a zip archive), inflated as it is read: the first
// entry whose name ends in ".kml" (normally doc.kml) is read, and nothing is
// unpacked to disk. Where the source can seek, the central directory at the
// archive's end says where that entry is and how large, which holds for
// entries whose sizes follow their data (streaming writers) too. Otherwise,
// or where that directory cannot be read, the entries are walked from the
// start by their local headers, stepping over those before the KML (images,
// mostly); a deflated one whose sizes follow its data is inflated to its end.
// A damaged archive, one without KML, or an entry that inflates far past its
// compressed size (a zip bomb) ends the text, with failure() saying why.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "services/text_files.h"

namespace marklode {

class KmzSource : public ByteSource {
 public:
  explicit KmzSource(ByteSource& zip);
  ~KmzSource() override;
  KmzSource(const KmzSource&) = delete;
  KmzSource& operator=(const KmzSource&) = delete;

  std::size_t Read(char* buf, std::size_t cap) override;
  std::uint64_t Size() const override { return zip_.Size(); }
  // Why the KML could not be read whole; empty when it was.
  const std::string& failure() const { return failure_; }
  // How far into the archive the reading is, for the progress told.
  std::uint64_t consumed() const { return pos_; }

  // Past this many bytes, an entry may inflate to at most kMostRatio times its
  // compressed size: real KML compresses far less than that.
  static constexpr std::uint64_t kFreeBytes = 64u << 20;
  static constexpr std::uint64_t kMostRatio = 200;

 private:
  struct Inflater;
  struct Entry;
  enum class Found { Yes, No, Unknown };
  Found FromDirectory();  // Unknown: no directory to go by; read from the start
  bool FindKml();
  bool BeginKml(const Entry& e);
  bool Fill();  // more compressed bytes into in_; false at the end of the archive
  bool Take(char* dst, std::size_t n);
  bool SkipBytes(std::uint64_t n);
  std::size_t Peek(std::size_t n);  // up to n bytes at inPos_, fewer only at the end
  bool SeekTo(std::uint64_t offset);
  bool InflateAway(std::uint64_t& in, std::uint64_t& out);  // an entry of unknown size
  bool SkipDescriptor(std::uint64_t in, std::uint64_t out, bool zip64);
  void Fail(std::string why);

  ByteSource& zip_;
  std::vector<char> in_;
  std::size_t inPos_ = 0, inEnd_ = 0;
  std::uint64_t pos_ = 0;  // of the byte after in_'s last
  std::unique_ptr<Inflater> z_;
  bool started_ = false, done_ = false;
  bool sought_ = false;  // the source went elsewhere than its start
  bool stored_ = false;
  bool knownSizes_ = false;
  std::uint32_t crc_ = 0, wantCrc_ = 0;
  std::uint64_t left_ = 0;  // a stored entry's bytes still to give
  std::uint64_t wantSize_ = 0, out_ = 0, entryIn_ = 0;
  std::string failure_;
};

}  // namespace marklode

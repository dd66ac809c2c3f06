// The KML inside a KMZ (a zip archive), inflated as it is read: the archive's
// entries are walked from the start by their local headers, the first whose
// name ends in ".kml" (normally doc.kml) is read, and nothing is unpacked to
// disk. Entries before it (images, mostly) are stepped over. A damaged archive,
// one without KML, or an entry that inflates far past its compressed size (a
// zip bomb) ends the text, with failure() saying why.
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
  // The compressed bytes read, for the progress told.
  std::uint64_t consumed() const { return consumed_; }

  // Past this many bytes, an entry may inflate to at most kMostRatio times its
  // compressed size: real KML compresses far less than that.
  static constexpr std::uint64_t kFreeBytes = 64u << 20;
  static constexpr std::uint64_t kMostRatio = 200;

 private:
  struct Inflater;
  bool FindKml();
  bool Fill();  // more compressed bytes into in_; false at the end of the archive
  bool Take(char* dst, std::size_t n);
  bool SkipBytes(std::uint64_t n);
  bool InflateAway();  // through an entry of unknown size, to its end
  void Fail(std::string why);

  ByteSource& zip_;
  std::vector<char> in_;
  std::size_t inPos_ = 0, inEnd_ = 0;
  std::uint64_t consumed_ = 0;
  std::unique_ptr<Inflater> z_;
  bool started_ = false, done_ = false;
  bool stored_ = false;
  bool knownSizes_ = false;
  std::uint32_t crc_ = 0, wantCrc_ = 0;
  std::uint64_t left_ = 0;  // a stored entry's bytes still to give
  std::uint64_t wantSize_ = 0, out_ = 0, entryIn_ = 0;
  std::string failure_;
};

}  // namespace marklode

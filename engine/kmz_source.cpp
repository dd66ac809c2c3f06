#include "engine/kmz_source.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "services/strings.h"

namespace marklode {
namespace {

constexpr std::uint32_t kLocalHeader = 0x04034b50;
constexpr std::uint32_t kCentralHeader = 0x02014b50;
constexpr std::uint32_t kEndRecord = 0x06054b50;
constexpr std::uint32_t kDescriptor = 0x08074b50;
constexpr std::size_t kInBytes = 64 << 10;

std::uint32_t Le(const unsigned char* p, int n) {
  std::uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

bool EndsWithKml(std::string_view name) {
  return name.size() > 4 && IEquals(name.substr(name.size() - 4), ".kml");
}

}  // namespace

struct KmzSource::Inflater {
  z_stream s{};
  bool open = false;
  bool Begin() {
    if (open) inflateEnd(&s);
    s = z_stream{};
    open = inflateInit2(&s, -MAX_WBITS) == Z_OK;  // raw deflate, as zip stores it
    return open;
  }
  ~Inflater() {
    if (open) inflateEnd(&s);
  }
};

KmzSource::KmzSource(ByteSource& zip)
    : zip_(zip), in_(kInBytes), z_(std::make_unique<Inflater>()) {}
KmzSource::~KmzSource() = default;

void KmzSource::Fail(std::string why) {
  if (failure_.empty()) failure_ = std::move(why);
  done_ = true;
}

bool KmzSource::Fill() {
  if (inPos_ < inEnd_) return true;
  inPos_ = 0;
  inEnd_ = zip_.Read(in_.data(), in_.size());
  consumed_ += inEnd_;
  return inEnd_ > 0;
}

bool KmzSource::Take(char* dst, std::size_t n) {
  while (n > 0) {
    if (!Fill()) return false;
    const std::size_t k = std::min(n, inEnd_ - inPos_);
    std::memcpy(dst, in_.data() + inPos_, k);
    inPos_ += k;
    dst += k;
    n -= k;
  }
  return true;
}

bool KmzSource::SkipBytes(std::uint64_t n) {
  while (n > 0) {
    if (!Fill()) return false;
    const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n, inEnd_ - inPos_));
    inPos_ += k;
    n -= k;
  }
  return true;
}

bool KmzSource::InflateAway() {
  if (!z_->Begin()) return false;
  std::vector<unsigned char> sink(kInBytes);
  std::uint64_t in = 0;
  for (;;) {
    if (!Fill()) return false;
    z_->s.next_in = reinterpret_cast<Bytef*>(in_.data() + inPos_);
    z_->s.avail_in = static_cast<uInt>(inEnd_ - inPos_);
    z_->s.next_out = sink.data();
    z_->s.avail_out = static_cast<uInt>(sink.size());
    const int r = inflate(&z_->s, Z_NO_FLUSH);
    const std::size_t used = (inEnd_ - inPos_) - z_->s.avail_in;
    inPos_ += used;
    in += used;
    if (r == Z_STREAM_END) return true;
    if (r != Z_OK && r != Z_BUF_ERROR) return false;
    if (z_->s.total_out > kFreeBytes && z_->s.total_out / kMostRatio > in) return false;
  }
}

// Walks the local headers up to the first KML entry, and makes ready to read it.
bool KmzSource::FindKml() {
  for (;;) {
    unsigned char h[30];
    if (!Take(reinterpret_cast<char*>(h), 4)) {
      Fail(consumed_ == 0 ? "The KMZ file is empty" : "The KMZ archive holds no .kml file");
      return false;
    }
    const std::uint32_t sig = Le(h, 4);
    if (sig == kCentralHeader || sig == kEndRecord) {
      Fail("The KMZ archive holds no .kml file");
      return false;
    }
    if (sig != kLocalHeader || !Take(reinterpret_cast<char*>(h) + 4, 26)) {
      Fail("The KMZ file is not a zip archive, or it is damaged");
      return false;
    }
    const std::uint32_t flags = Le(h + 6, 2), method = Le(h + 8, 2);
    std::uint64_t csize = Le(h + 18, 4), usize = Le(h + 22, 4);
    const std::uint32_t crc = Le(h + 14, 4);
    const std::size_t nameLen = Le(h + 26, 2), extraLen = Le(h + 28, 2);
    std::string name(nameLen, '\0');
    std::string extra(extraLen, '\0');
    if (!Take(name.data(), nameLen) || !Take(extra.data(), extraLen)) {
      Fail("The KMZ archive is cut short");
      return false;
    }
    // Zip64: the sizes are in an extra field.
    for (std::size_t i = 0; i + 4 <= extra.size();) {
      const auto* e = reinterpret_cast<const unsigned char*>(extra.data() + i);
      const std::size_t id = Le(e, 2), len = Le(e + 2, 2);
      if (id == 1 && len >= 16 && i + 4 + 16 <= extra.size()) {
        usize = Le(e + 4, 4) | (std::uint64_t{Le(e + 8, 4)} << 32);
        csize = Le(e + 12, 4) | (std::uint64_t{Le(e + 16, 4)} << 32);
      }
      i += 4 + len;
    }
    const bool sizesLater = (flags & 8) != 0;
    if (EndsWithKml(name)) {
      if (flags & 1) {
        Fail("The KML in the KMZ archive is encrypted");
        return false;
      }
      if (method != 0 && method != 8) {
        Fail("The KML in the KMZ archive is compressed in a way that cannot be read (method " +
             std::to_string(method) + ")");
        return false;
      }
      stored_ = method == 0;
      if (stored_ && sizesLater) {
        Fail("The KMZ archive stores its KML without its size");
        return false;
      }
      knownSizes_ = !sizesLater;
      wantCrc_ = crc;
      wantSize_ = usize;
      left_ = csize;
      if (!stored_ && !z_->Begin()) {
        Fail("The KMZ archive could not be read");
        return false;
      }
      return true;
    }
    // Another entry (an image, most often): stepped over.
    bool passed;
    if (!sizesLater)
      passed = SkipBytes(csize);
    else if (method == 8)
      passed = InflateAway();
    else
      passed = false;
    if (passed && sizesLater) {
      char d[16];
      passed = Take(d, 4);
      if (passed)
        passed = Take(d + 4, Le(reinterpret_cast<unsigned char*>(d), 4) == kDescriptor ? 12 : 8);
    }
    if (!passed) {
      Fail("The KMZ archive is damaged: an entry before its KML (" + name +
           ") cannot be stepped over");
      return false;
    }
  }
}

std::size_t KmzSource::Read(char* buf, std::size_t cap) {
  if (!started_) {
    started_ = true;
    if (!FindKml()) return 0;
  }
  if (done_ || cap == 0) return 0;
  std::size_t n = 0;
  if (stored_) {
    while (n == 0 && left_ > 0) {
      if (!Fill()) break;
      const std::size_t k =
          static_cast<std::size_t>(std::min<std::uint64_t>({left_, cap, inEnd_ - inPos_}));
      std::memcpy(buf, in_.data() + inPos_, k);
      inPos_ += k;
      left_ -= k;
      n = k;
    }
    if (n == 0 && left_ > 0) Fail("The KMZ archive is cut short");
  } else {
    z_stream& s = z_->s;
    s.next_out = reinterpret_cast<Bytef*>(buf);
    s.avail_out = static_cast<uInt>(std::min<std::size_t>(cap, 1u << 30));
    bool end = false;
    while (s.avail_out == static_cast<uInt>(std::min<std::size_t>(cap, 1u << 30))) {
      if (!Fill()) {
        Fail("The KMZ archive is cut short");
        return 0;
      }
      s.next_in = reinterpret_cast<Bytef*>(in_.data() + inPos_);
      s.avail_in = static_cast<uInt>(inEnd_ - inPos_);
      const int r = inflate(&s, Z_NO_FLUSH);
      const std::size_t used = (inEnd_ - inPos_) - s.avail_in;
      inPos_ += used;
      entryIn_ += used;
      if (r == Z_STREAM_END) {
        end = true;
        break;
      }
      if (r != Z_OK && r != Z_BUF_ERROR) {
        Fail("The KMZ archive is damaged: its KML cannot be inflated");
        return 0;
      }
    }
    n = static_cast<std::size_t>(reinterpret_cast<char*>(s.next_out) - buf);
    if (end) done_ = true;
  }
  out_ += n;
  crc_ = static_cast<std::uint32_t>(
      crc32(crc_, reinterpret_cast<const Bytef*>(buf), static_cast<uInt>(n)));
  if ((knownSizes_ && out_ > wantSize_) ||
      (!stored_ && out_ > kFreeBytes && out_ / kMostRatio > entryIn_)) {
    Fail(
        "The KML in the KMZ archive inflates far past its size: the archive is damaged or "
        "made to fill the disk (a zip bomb), and is not read");
    return 0;
  }
  const bool finished = stored_ ? left_ == 0 : done_;
  if (finished) {
    done_ = true;
    if (knownSizes_ && (out_ != wantSize_ || crc_ != wantCrc_))
      Fail("The KMZ archive is damaged: its KML does not match its checksum");
  }
  return n;
}

}  // namespace marklode

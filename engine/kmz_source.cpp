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
constexpr std::uint32_t kZip64Locator = 0x07064b50;
constexpr std::uint32_t kZip64EndRecord = 0x06064b50;
constexpr std::uint32_t kDescriptor = 0x08074b50;
constexpr std::size_t kInBytes = 64 << 10;
constexpr std::size_t kEndRecordBytes = 22;
constexpr std::size_t kMostCommentBytes = 0xFFFF;

std::uint32_t Le(const unsigned char* p, int n) {
  std::uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
std::uint32_t Le(const char* p, int n) {
  return Le(reinterpret_cast<const unsigned char*>(p), n);
}
std::uint64_t Le64(const char* p) {
  return Le(p, 4) | (std::uint64_t{Le(p + 4, 4)} << 32);
}

bool EndsWithKml(std::string_view name) {
  return name.size() > 4 && IEquals(name.substr(name.size() - 4), ".kml");
}

// The zip64 extra field's values: each is there only where its 32-bit field
// is all ones, in this order. Whether there was such a field at all.
bool Zip64Sizes(std::string_view extra, std::uint64_t& usize, std::uint64_t& csize,
                std::uint64_t* offset) {
  for (std::size_t i = 0; i + 4 <= extra.size();) {
    const std::size_t id = Le(extra.data() + i, 2), len = Le(extra.data() + i + 2, 2);
    if (i + 4 + len > extra.size()) break;
    if (id == 1) {
      std::string_view v = extra.substr(i + 4, len);
      for (std::uint64_t* field : {&usize, &csize, offset}) {
        if (!field || *field != 0xFFFFFFFF || v.size() < 8) continue;
        *field = Le64(v.data());
        v.remove_prefix(8);
      }
      return true;
    }
    i += 4 + len;
  }
  return false;
}

}  // namespace

struct KmzSource::Entry {
  std::uint32_t flags = 0, method = 0, crc = 0;
  std::uint64_t csize = 0, usize = 0;
  bool sizesKnown = true;
};

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
  pos_ += inEnd_;
  return inEnd_ > 0;
}

std::size_t KmzSource::Peek(std::size_t n) {
  if (inEnd_ - inPos_ < n) {
    std::memmove(in_.data(), in_.data() + inPos_, inEnd_ - inPos_);
    inEnd_ -= inPos_;
    inPos_ = 0;
    while (inEnd_ < n) {
      const std::size_t k = zip_.Read(in_.data() + inEnd_, in_.size() - inEnd_);
      if (k == 0) break;
      inEnd_ += k;
      pos_ += k;
    }
  }
  return std::min(n, inEnd_ - inPos_);
}

bool KmzSource::SeekTo(std::uint64_t offset) {
  if (!zip_.Seek(offset)) return false;
  inPos_ = inEnd_ = 0;
  pos_ = offset;
  sought_ = true;
  return true;
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

bool KmzSource::InflateAway(std::uint64_t& in, std::uint64_t& out) {
  if (!z_->Begin()) return false;
  std::vector<unsigned char> sink(kInBytes);
  in = 0;
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
    out = z_->s.total_out;
    if (r == Z_STREAM_END) return true;
    if (r != Z_OK && r != Z_BUF_ERROR) return false;
    if (out > kFreeBytes && out / kMostRatio > in) return false;
  }
}

// The data descriptor after an entry that was inflated to its end: with or
// without its signature, with 32-bit or (zip64) 64-bit sizes. The form is
// the one whose sizes are those just read; a zip64 entry's is tried first.
bool KmzSource::SkipDescriptor(std::uint64_t in, std::uint64_t out, bool zip64) {
  const std::size_t have = Peek(24);
  const char* d = in_.data() + inPos_;
  const std::size_t sig = have >= 4 && Le(d, 4) == kDescriptor ? 4 : 0;
  for (const bool wide : {zip64, !zip64}) {
    const std::size_t len = sig + 4 + (wide ? 16 : 8);
    if (have < len) continue;
    const char* sizes = d + sig + 4;
    const bool match =
        wide ? Le64(sizes) == in && Le64(sizes + 8) == out
             : Le(sizes, 4) == (in & 0xFFFFFFFF) && Le(sizes + 4, 4) == (out & 0xFFFFFFFF);
    if (match) {
      inPos_ += len;
      return true;
    }
  }
  return false;
}

// Makes ready to read the KML entry whose data starts at inPos_.
bool KmzSource::BeginKml(const Entry& e) {
  if (e.flags & 1) {
    Fail("The KML in the KMZ archive is encrypted");
    return false;
  }
  if (e.method != 0 && e.method != 8) {
    Fail("The KML in the KMZ archive is compressed in a way that cannot be read (method " +
         std::to_string(e.method) + ")");
    return false;
  }
  stored_ = e.method == 0;
  if (stored_ && !e.sizesKnown) {
    Fail("The KMZ archive stores its KML without its size");
    return false;
  }
  knownSizes_ = e.sizesKnown;
  wantCrc_ = e.crc;
  wantSize_ = e.usize;
  left_ = e.csize;
  if (!stored_ && !z_->Begin()) {
    Fail("The KMZ archive could not be read");
    return false;
  }
  return true;
}

// The KML entry by the central directory: the one of them whose local
// header comes first. Unknown where there is no directory to be read (a
// source that cannot seek, an archive cut short), or where it points at no
// local header: the walk from the start then says what is wrong.
KmzSource::Found KmzSource::FromDirectory() {
  const std::uint64_t size = zip_.Size();
  if (size < kEndRecordBytes) return Found::Unknown;
  std::string tail(static_cast<std::size_t>(
                       std::min<std::uint64_t>(size, kEndRecordBytes + kMostCommentBytes + 20)),
                   '\0');
  const std::uint64_t tailAt = size - tail.size();
  if (!SeekTo(tailAt) || !Take(tail.data(), tail.size())) return Found::Unknown;
  // The end record, its comment reaching exactly to the end of the file.
  std::size_t at = tail.size() - kEndRecordBytes;
  while (Le(tail.data() + at, 4) != kEndRecord ||
         at + kEndRecordBytes + Le(tail.data() + at + 20, 2) != tail.size())
    if (at-- == 0) return Found::Unknown;
  std::uint64_t dirSize = Le(tail.data() + at + 12, 4), dirAt = Le(tail.data() + at + 16, 4);
  // All ones: the values are in the zip64 end record the locator before it names.
  if (Le(tail.data() + at + 10, 2) == 0xFFFF || dirSize == 0xFFFFFFFF || dirAt == 0xFFFFFFFF) {
    if (at < 20 || Le(tail.data() + at - 20, 4) != kZip64Locator) return Found::Unknown;
    const std::uint64_t recordAt = Le64(tail.data() + at - 12);
    char r[56];
    if (size < sizeof r || recordAt > size - sizeof r || !SeekTo(recordAt) || !Take(r, sizeof r) ||
        Le(r, 4) != kZip64EndRecord)
      return Found::Unknown;
    dirSize = Le64(r + 40);
    dirAt = Le64(r + 48);
  }
  if (dirAt > size || dirSize > size - dirAt || !SeekTo(dirAt)) return Found::Unknown;

  std::uint64_t kmlAt = UINT64_MAX;
  Entry kml;
  std::string name, extra;
  for (std::uint64_t read = 0; read < dirSize;) {
    char h[46];
    if (read + sizeof h > dirSize || !Take(h, sizeof h) || Le(h, 4) != kCentralHeader)
      return Found::Unknown;
    const std::size_t nameLen = Le(h + 28, 2), extraLen = Le(h + 30, 2), commentLen = Le(h + 32, 2);
    read += sizeof h + nameLen + extraLen + commentLen;
    name.resize(nameLen);
    extra.resize(extraLen);
    if (read > dirSize || !Take(name.data(), nameLen) || !Take(extra.data(), extraLen) ||
        !SkipBytes(commentLen))
      return Found::Unknown;
    if (!EndsWithKml(name)) continue;
    Entry e;
    e.flags = Le(h + 8, 2);
    e.method = Le(h + 10, 2);
    e.crc = Le(h + 16, 4);
    e.csize = Le(h + 20, 4);
    e.usize = Le(h + 24, 4);
    std::uint64_t offset = Le(h + 42, 4);
    Zip64Sizes(extra, e.usize, e.csize, &offset);
    if (offset < kmlAt) {
      kmlAt = offset;
      kml = e;
    }
  }
  if (kmlAt == UINT64_MAX) {
    Fail("The KMZ archive holds no .kml file");
    return Found::No;
  }
  // Its local header: the sizes there count where they are given (a header
  // that understates them is a bomb's), the directory's where they follow
  // the data.
  char h[30];
  if (kmlAt > size || !SeekTo(kmlAt) || !Take(h, sizeof h) || Le(h, 4) != kLocalHeader)
    return Found::Unknown;
  extra.resize(Le(h + 28, 2));
  if (!SkipBytes(Le(h + 26, 2)) || !Take(extra.data(), extra.size())) return Found::Unknown;
  kml.flags = Le(h + 6, 2);
  kml.method = Le(h + 8, 2);
  if ((kml.flags & 8) == 0) {
    kml.crc = Le(h + 14, 4);
    kml.csize = Le(h + 18, 4);
    kml.usize = Le(h + 22, 4);
    Zip64Sizes(extra, kml.usize, kml.csize, nullptr);
  }
  return BeginKml(kml) ? Found::Yes : Found::No;
}

// Walks the local headers up to the first KML entry, and makes ready to read it.
bool KmzSource::FindKml() {
  for (;;) {
    char h[30];
    if (!Take(h, 4)) {
      Fail(pos_ == 0 ? "The KMZ file is empty" : "The KMZ archive holds no .kml file");
      return false;
    }
    const std::uint32_t sig = Le(h, 4);
    if (sig == kCentralHeader || sig == kEndRecord) {
      Fail("The KMZ archive holds no .kml file");
      return false;
    }
    if (sig != kLocalHeader || !Take(h + 4, 26)) {
      Fail("The KMZ file is not a zip archive, or it is damaged");
      return false;
    }
    Entry e;
    e.flags = Le(h + 6, 2);
    e.method = Le(h + 8, 2);
    e.crc = Le(h + 14, 4);
    e.csize = Le(h + 18, 4);
    e.usize = Le(h + 22, 4);
    const std::size_t nameLen = Le(h + 26, 2), extraLen = Le(h + 28, 2);
    std::string name(nameLen, '\0');
    std::string extra(extraLen, '\0');
    if (!Take(name.data(), nameLen) || !Take(extra.data(), extraLen)) {
      Fail("The KMZ archive is cut short");
      return false;
    }
    const bool zip64 = Zip64Sizes(extra, e.usize, e.csize, nullptr);
    e.sizesKnown = (e.flags & 8) == 0;
    if (EndsWithKml(name)) return BeginKml(e);
    // Another entry (an image, most often): stepped over. Its sizes may
    // follow it, where only inflating it finds its end.
    bool passed;
    if (e.sizesKnown) {
      passed = SkipBytes(e.csize);
    } else {
      std::uint64_t in = 0, out = 0;
      passed = e.method == 8 && InflateAway(in, out) && SkipDescriptor(in, out, zip64);
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
    const Found found = FromDirectory();
    if (found == Found::No) return 0;
    if (found == Found::Unknown) {
      if (sought_ && !SeekTo(0)) {
        Fail("The KMZ archive could not be read");
        return 0;
      }
      if (!FindKml()) return 0;
    }
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

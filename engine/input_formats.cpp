#include "engine/input_formats.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/geojson_reader.h"
#include "engine/kml_reader.h"
#include "engine/kmz_source.h"
#include "engine/run_report.h"
#include "services/platform.h"
#include "services/strings.h"
#include "services/sync.h"
#include "services/text_decoding.h"

namespace marklode {
namespace {

std::string_view ExtensionOf(std::string_view name) {
  name = FileNamePart(name);
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

// "<kml" or "<prefix:kml" as a whole element name.
bool HasKmlElement(std::string_view s) {
  for (std::size_t at = 0; (at = s.find("kml", at)) != std::string_view::npos; at += 3) {
    if (at == 0 || at + 3 >= s.size()) continue;
    const char before = s[at - 1], after = s[at + 3];
    if ((before == '<' || before == ':') &&
        (after == ' ' || after == '>' || after == '\t' || after == '\r' || after == '\n')) {
      if (before == '<') return true;
      const std::size_t lt = s.rfind('<', at);
      if (lt != std::string_view::npos &&
          s.substr(lt, at - lt).find_first_of(" >\"'") == std::string_view::npos)
        return true;
    }
  }
  return false;
}

// A KML read from the KML entry of a KMZ archive. Progress is told in the
// archive's bytes, which is what its size counts.
class KmzReader : public WaypointReader, private ProgressSink {
 public:
  KmzReader(ByteSource& zip, bool folderPath, ProgressSink* progress, ShapePoint shapes)
      : progress_(progress),
        zip_(zip),
        text_(zip_),
        kml_(text_, folderPath, progress ? static_cast<ProgressSink*>(this) : nullptr, shapes) {}
  // Nothing more once the archive failed: the KML's last placemark may be cut.
  bool Next(GpxWaypoint& w) override { return kml_.Next(w) && zip_.failure().empty(); }
  bool cancelled() const override { return kml_.cancelled(); }
  std::int64_t nameless() const override { return kml_.nameless(); }
  void AddSkips(FileReport& report) const override { kml_.AddSkips(report); }
  std::string_view failure() const override {
    if (!zip_.failure().empty()) return zip_.failure();
    return text_.unreadable() ? "The text is UTF-32 in an unusual byte order, which cannot be read"
                              : std::string_view();
  }

 private:
  bool Update(std::uint64_t, std::uint64_t) override {
    return progress_->Update(zip_.consumed(), zip_.Size());
  }
  bool Cancelled() override { return progress_->Cancelled(); }

  ProgressSink* const progress_;
  KmzSource zip_;
  DecodingSource text_;
  KmlReader kml_;
};

// A GeoJSON file's points; every property is a value the templates can name.
class GeoJsonWaypoints : public WaypointReader {
 public:
  GeoJsonWaypoints(ByteSource& text, ProgressSink* progress, ShapePoint shapes)
      : json_(text, progress, shapes) {}
  bool Next(GpxWaypoint& w) override {
    if (!json_.Next(w, w.values)) return false;
    w.line = json_.line();
    return true;
  }
  bool cancelled() const override { return json_.cancelled(); }
  std::int64_t nameless() const override { return json_.nameless(); }
  void AddSkips(FileReport& report) const override {
    report.SkipMany(SkipReason::NotAPoint, json_.notPoints());
  }
  std::string_view failure() const override { return json_.problem(); }

 private:
  GeoJsonReader json_;
};

// A reader run on a thread of its own, handing its waypoints over in
// batches, in order. A batch holds their texts end to end in one buffer,
// which the caller reads from start to end: waypoints whose strings went
// from one processor to the other cost more than the reading they save.
// The progress the reader tells is kept with the batch, at the waypoint it
// was told before, and told from the caller's thread when the caller gets
// there: messages, progress and cancel all stay on the caller's thread. A
// cancel stops the reader at its next block.
class ReadAhead : public WaypointReader, private ProgressSink, private ByteSource {
 public:
  using Make = std::function<std::unique_ptr<WaypointReader>(ByteSource&, ProgressSink*)>;
  ReadAhead(ByteSource& src, ProgressSink* progress, const Make& make)
      : progress_(progress), src_(src), size_(src.Size()) {
    // Always through here, so that a stop reaches the reader even when
    // nobody asks for progress.
    inner_ = make(*this, this);
    try {
      thread_ = std::thread([this] { Work(); });
    } catch (const std::system_error&) {
      alone_ = true;  // a process limit: read on this thread
    }
  }
  ~ReadAhead() override { Stop(); }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  bool Next(GpxWaypoint& w) override {
    if (alone_) return inner_->Next(w);
    for (;;) {
      while (!current_) {
        if (over_) return false;
        FillBlocks();
        std::unique_lock lock(mutex_);
        filled_.wait(lock, [&] { return produced_ > consumed_ || BlockFree(); });
        if (produced_ == consumed_) continue;  // the reader wants bytes first
        current_ = &ring_[consumed_ % kBatches];
        at_ = ticked_ = text_ = sizes_ = 0;
      }
      Batch& b = *current_;
      for (; ticked_ < b.ticks.size() && b.ticks[ticked_].before <= at_; ++ticked_) {
        if (progress_ && !progress_->Update(b.ticks[ticked_].done, b.ticks[ticked_].total)) {
          cancelled_ = true;
          Stop();
          return false;
        }
      }
      if (at_ < b.points.size()) {
        Unpack(b, b.points[at_++], w);
        return true;
      }
      const bool last = b.last;
      const std::exception_ptr error = b.error;
      if (b.text.capacity() > kKeepBytes) std::string().swap(b.text);  // a huge value's room
      {
        std::lock_guard lock(mutex_);
        ++consumed_;
      }
      room_.notify_one();
      current_ = nullptr;
      if (last) {
        Stop();
        if (error) std::rethrow_exception(error);
        return false;
      }
    }
  }
  // Asked once Next said false, when the reader's thread has ended.
  bool cancelled() const override { return cancelled_ || inner_->cancelled(); }
  std::int64_t nameless() const override { return inner_->nameless(); }
  void AddSkips(FileReport& report) const override { inner_->AddSkips(report); }
  std::string_view failure() const override { return inner_->failure(); }
  std::int64_t LineOf(const GpxWaypoint& w) const override { return inner_->LineOf(w); }

 private:
  // Waypoints read and not yet handed over, with the progress told on the way.
  struct Batch {
    struct Point {
      std::uint64_t at;
      std::int64_t line;
      std::size_t values;
      bool hasLat, hasLon, nameJoined;
    };
    struct Tick {
      std::size_t before;  // the waypoint it came before
      std::uint64_t done, total;
    };
    std::vector<Point> points;
    std::string text;                // every text of every point, end to end
    std::vector<std::size_t> sizes;  // their lengths, in the order Pack writes them
    std::vector<Tick> ticks;
    bool last = false;  // the reader has ended after these
    std::exception_ptr error;
  };
  // Few and short batches keep the memory small: a batch ends at either bound.
  static constexpr std::size_t kBatches = 4;
  static constexpr std::size_t kBatchPoints = 4096;
  static constexpr std::size_t kBatchBytes = 1 << 20;
  static constexpr std::size_t kKeepCapacity = 1 << 20;       // a string's, past which it is freed
  static constexpr std::size_t kKeepBytes = 4 * kBatchBytes;  // a batch's

  static void Put(Batch& b, std::string_view text) {
    b.text.append(text);
    b.sizes.push_back(text.size());
  }
  static void Pack(const GpxWaypoint& w, Batch& b) {
    b.points.push_back({w.at, w.line, w.values.size(), w.hasLat, w.hasLon, w.nameJoined});
    for (const std::string* t : {&w.lat, &w.lon, &w.name, &w.comment, &w.category}) Put(b, *t);
    for (const auto& [name, value] : w.values) {
      Put(b, name);
      Put(b, value);
    }
  }
  std::string_view Take(const Batch& b) {
    const std::string_view t = std::string_view(b.text).substr(text_, b.sizes[sizes_]);
    text_ += b.sizes[sizes_++];
    return t;
  }
  void Unpack(const Batch& b, const Batch::Point& p, GpxWaypoint& w) {
    for (std::string* t : {&w.lat, &w.lon, &w.name, &w.comment, &w.category}) t->assign(Take(b));
    w.values.resize(p.values);
    for (auto& [name, value] : w.values) {
      name.assign(Take(b));
      value.assign(Take(b));
    }
    w.at = p.at;
    w.line = p.line;
    w.hasLat = p.hasLat;
    w.hasLon = p.hasLon;
    w.nameJoined = p.nameJoined;
  }

  void Work() {
    GpxWaypoint w;
    for (;;) {
      Batch* b;
      {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [&] { return stop_ || produced_ - consumed_ < kBatches; });
        if (stop_) return;
        b = &ring_[produced_ % kBatches];
      }
      b->points.clear();
      b->text.clear();
      b->sizes.clear();
      b->ticks.clear();
      b->last = false;
      b->error = nullptr;
      filling_ = b;
      try {
        while (b->points.size() < kBatchPoints && b->text.size() < kBatchBytes) {
          if (!inner_->Next(w)) {
            b->last = true;
            break;
          }
          Pack(w, *b);
          if (w.comment.capacity() > kKeepCapacity || w.name.capacity() > kKeepCapacity)
            w = GpxWaypoint();
        }
      } catch (...) {
        b->error = std::current_exception();
        b->last = true;
      }
      {
        std::lock_guard lock(mutex_);
        ++produced_;
      }
      filled_.notify_one();
      if (b->last) return;
    }
  }

  // Told by the reader: on its thread, kept for the caller's; alone (or
  // before the thread starts), passed on.
  bool Update(std::uint64_t done, std::uint64_t total) override {
    if (alone_ || !filling_) return !progress_ || progress_->Update(done, total);
    if (progress_) filling_->ticks.push_back({filling_->points.size(), done, total});
    return !stop_.load(std::memory_order_relaxed);
  }
  bool Cancelled() override {
    if (alone_ || !filling_) return progress_ && progress_->Cancelled();
    return stop_.load(std::memory_order_relaxed);
  }

  // The input's bytes, read here a block at a time by the caller's thread
  // and taken by the reader's: the system's copying would otherwise cost the
  // reader's thread, which has the more to do.
  struct Block {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
  };
  static constexpr std::size_t kBlocks = 3;
  static constexpr std::size_t kBlockBytes = 1 << 20;

  bool BlockFree() const { return !inputEnd_ && blocksFilled_ - blocksTaken_ < kBlocks; }
  // On the caller's thread: reads into every free block.
  void FillBlocks() {
    for (;;) {
      Block* block;
      {
        std::lock_guard lock(mutex_);
        if (!BlockFree()) return;
        block = &blocks_[blocksFilled_ % kBlocks];
      }
      if (!block->bytes) block->bytes = std::make_unique<char[]>(kBlockBytes);
      std::size_t n = 0;
      bool end = false;
      while (n < kBlockBytes && !end) {
        const std::size_t k = src_.Read(block->bytes.get() + n, kBlockBytes - n);
        n += k;
        end = k == 0;
      }
      {
        std::lock_guard lock(mutex_);
        block->size = n;
        if (n > 0) ++blocksFilled_;
        inputEnd_ = end;
      }
      blockReady_.notify_one();
    }
  }
  // On the reader's thread.
  std::size_t Read(char* buf, std::size_t cap) override {
    if (alone_) return src_.Read(buf, cap);
    if (!reading_ || readAt_ == reading_->size) {
      std::unique_lock lock(mutex_);
      if (reading_) {
        ++blocksTaken_;
        reading_ = nullptr;
        filled_.notify_one();  // a block to fill
      }
      blockReady_.wait(lock, [&] { return stop_ || blocksFilled_ > blocksTaken_ || inputEnd_; });
      if (stop_ || blocksFilled_ == blocksTaken_) return 0;
      reading_ = &blocks_[blocksTaken_ % kBlocks];
      readAt_ = 0;
    }
    const std::size_t k = std::min(cap, reading_->size - readAt_);
    std::memcpy(buf, reading_->bytes.get() + readAt_, k);
    readAt_ += k;
    return k;
  }
  std::uint64_t Size() const override { return size_; }

  void Stop() {
    over_ = true;
    if (!thread_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    room_.notify_one();
    blockReady_.notify_one();
    thread_.join();
  }

  ProgressSink* const progress_;
  ByteSource& src_;
  const std::uint64_t size_;
  std::unique_ptr<WaypointReader> inner_;
  bool alone_ = false;
  // The caller's side.
  Batch* current_ = nullptr;
  std::size_t at_ = 0, ticked_ = 0, text_ = 0, sizes_ = 0;
  bool over_ = false;
  bool cancelled_ = false;
  // The reader's side.
  Batch* filling_ = nullptr;
  Block* reading_ = nullptr;
  std::size_t readAt_ = 0;
  // Shared.
  std::array<Batch, kBatches> ring_;
  std::uint64_t produced_ = 0, consumed_ = 0;
  std::array<Block, kBlocks> blocks_;
  std::uint64_t blocksFilled_ = 0, blocksTaken_ = 0;
  bool inputEnd_ = false;
  std::atomic<bool> stop_ = false;
  Mutex mutex_;
  CondVar filled_, room_, blockReady_;
  std::thread thread_;
};

}  // namespace

bool IsWaypointInputName(std::string_view name) {
  const std::string_view ext = ExtensionOf(name);
  return IEquals(ext, ".gpx") || IEquals(ext, ".kml") || IEquals(ext, ".kmz") ||
         IEquals(ext, ".geojson") || IEquals(ext, ".json");
}

InputFormat InputFormatOf(std::string_view name, std::string_view head) {
  const std::string_view ext = ExtensionOf(name);
  if (IEquals(ext, ".gpx")) return InputFormat::Gpx;
  if (head.starts_with("PK\x03\x04") || head.starts_with("PK\x05\x06")) return InputFormat::Kmz;
  // UTF-16 and UTF-32 text seen through its ASCII: the zero bytes dropped.
  std::string ascii;
  ascii.reserve(head.size());
  for (const char c : head)
    if (c != '\0') ascii += c;
  std::string_view s = ascii;
  for (const std::string_view bom : {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"})
    if (s.starts_with(bom)) s.remove_prefix(bom.size());
  const std::size_t first = s.find_first_not_of(" \t\r\n");
  if (first != std::string_view::npos && (s[first] == '{' || s[first] == '['))
    return InputFormat::GeoJson;
  if (first != std::string_view::npos && s[first] == '<') {
    if (HasKmlElement(s)) return InputFormat::Kml;
    if (s.find("<gpx") != std::string_view::npos) return InputFormat::Gpx;
  }
  if (IEquals(ext, ".kml")) return InputFormat::Kml;
  if (IEquals(ext, ".kmz")) return InputFormat::Kmz;
  if (IEquals(ext, ".geojson") || IEquals(ext, ".json")) return InputFormat::GeoJson;
  return InputFormat::Gpx;
}

std::unique_ptr<WaypointReader> MakeWaypointReader(InputFormat format, ByteSource& text,
                                                   const Request& request, ProgressSink* progress,
                                                   bool ahead) {
  if (ahead && (format == InputFormat::Kml || format == InputFormat::Kmz))
    return std::make_unique<ReadAhead>(text, progress, [&](ByteSource& bytes, ProgressSink* told) {
      return MakeWaypointReader(format, bytes, request, told, false);
    });
  switch (format) {
    case InputFormat::Kml:
      return std::make_unique<KmlReader>(text, request.categoryFromFolderPath, progress,
                                         request.shapePoint);
    case InputFormat::Kmz:
      return std::make_unique<KmzReader>(text, request.categoryFromFolderPath, progress,
                                         request.shapePoint);
    case InputFormat::GeoJson:
      return std::make_unique<GeoJsonWaypoints>(text, progress, request.shapePoint);
    case InputFormat::Gpx:
      break;
  }
  return nullptr;
}

}  // namespace marklode

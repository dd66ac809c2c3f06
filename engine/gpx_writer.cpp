#include "engine/gpx_writer.h"

#include <algorithm>
#include <array>
#include <system_error>
#include <utility>

#include "engine/xml_escape.h"

namespace marklode {
namespace {

// The fixed text of the file, built at compile time so that each point costs a
// few copies of constant blocks.
#define MARKLODE_GPX_NS "http://www.topografix.com/GPX/1/1"
#define MARKLODE_XSI_NS "http://www.w3.org/2001/XMLSchema-instance"
#define MARKLODE_GPXX_NS "http://www.garmin.com/xmlschemas/GpxExtensions/v2"
// The rest of the start tag of a Garmin extension element, which names its own
// schema.
#define MARKLODE_GPXX_ATTRIBUTES                                      \
  " xmlns:gpxx=\"" MARKLODE_GPXX_NS "\" xmlns:xsi=\"" MARKLODE_XSI_NS \
  "\" xsi:schemaLocation=\"" MARKLODE_GPXX_NS " " MARKLODE_GPXX_NS "/GpxExtensionsv2.xsd\">\r\n"

constexpr std::string_view kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\r\n"
    "<gpx xmlns=\"" MARKLODE_GPX_NS
    "\" creator=\"Unknown\" version=\"1.1\" xmlns:xsi=\"" MARKLODE_XSI_NS
    "\" xsi:schemaLocation=\"" MARKLODE_GPX_NS " " MARKLODE_GPX_NS
    "/gpx.xsd\">\r\n"
    "  <metadata>\r\n"
    "    <link href=\"http://www.garmin.com\">\r\n"
    "      <text>Garmin International</text>\r\n"
    "    </link>\r\n"
    "  </metadata>\r\n\r\n";
#define MARKLODE_SYMBOL_TO_DISPLAY_MODE                    \
  "</sym>\r\n"                                             \
  "    <extensions>\r\n"                                   \
  "      <gpxx:WaypointExtension" MARKLODE_GPXX_ATTRIBUTES \
  "        <gpxx:DisplayMode>SymbolAndName</gpxx:DisplayMode>\r\n"
#define MARKLODE_EXTENSIONS_CLOSE       \
  "      </gpxx:WaypointExtension>\r\n" \
  "    </extensions>\r\n"
constexpr std::string_view kSymbolToDisplayMode = MARKLODE_SYMBOL_TO_DISPLAY_MODE;
constexpr std::string_view kCategoryOpen = "        <gpxx:Categories>\r\n          <gpxx:Category>";
constexpr std::string_view kCategoryClose = "</gpxx:Category>\r\n        </gpxx:Categories>\r\n";
constexpr std::string_view kExtensionsClose = MARKLODE_EXTENSIONS_CLOSE;
constexpr std::string_view kRouteNameToPoints =
    "</name>\r\n"
    "  <extensions>\r\n"
    "    <gpxx:RouteExtension" MARKLODE_GPXX_ATTRIBUTES
    "      <gpxx:IsAutoNamed>false</gpxx:IsAutoNamed>\r\n"
    "    </gpxx:RouteExtension>\r\n"
    "  </extensions>\r\n";
// The most a point's block holds besides its values.
constexpr std::size_t kPointFixedMost = kSymbolToDisplayMode.size() + kCategoryOpen.size() +
                                        kCategoryClose.size() + kExtensionsClose.size() + 128;

#undef MARKLODE_EXTENSIONS_CLOSE
#undef MARKLODE_SYMBOL_TO_DISPLAY_MODE
#undef MARKLODE_GPXX_ATTRIBUTES
#undef MARKLODE_GPXX_NS
#undef MARKLODE_XSI_NS
#undef MARKLODE_GPX_NS

// Large writes let the kernel use large page-cache folios.
constexpr std::size_t kFlushAt = 1 << 20;

// A point whose values hold more is written a piece of this many bytes at a
// time, its text handed on between them: escaped whole, a long value would
// be held once more, up to six times its size.
constexpr std::size_t kLongPoint = 1 << 20;
constexpr std::size_t kPiece = 64 << 10;

}  // namespace

GpxWriter::GpxWriter(Flush flush, RouteSpill spill)
    : flush_(std::move(flush)), spillFolder_(std::move(spill.folder)) {
  if (spill.on) spillAt_ = spill.bytes;
  out_.Append(kHeader);
}

void GpxWriter::ExpectInput(std::uint64_t bytes) {
  used_.Reserve(static_cast<std::size_t>(std::min<std::uint64_t>(bytes / 64, 384u << 10)));
}

bool GpxWriter::Write(const Batch& batch) {
  // The slots of the next few points' names in the set of names are fetched
  // while the points before them are written. (The hashes stay in an array
  // of their own: without a use the compiler drops the prefetch.)
  constexpr std::size_t kAhead = 8;
  std::array<std::size_t, kAhead> hashes{};
  const std::size_t n = batch.items.size();
  const auto lookAhead = [&](std::size_t k) {
    const Batch::Item& item = batch.items[k];
    if (item.kind != Batch::Item::kPoint) return;
    hashes[k % kAhead] = item.nameHash;  // worked out on the reading side
    used_.Prefetch(hashes[k % kAhead]);
  };
  for (std::size_t k = 0; k < n && k < kAhead; ++k) lookAhead(k);
  for (std::size_t i = 0; i < n; ++i) {
    const Batch::Item& item = batch.items[i];
    const std::size_t hash = hashes[i % kAhead];
    if (i + kAhead < n) lookAhead(i + kAhead);
    switch (item.kind) {
      case Batch::Item::kPoint:
        WritePoint(batch, item, hash);
        break;
      case Batch::Item::kRouteBegin:
        if (inRoute_) CloseRoute();
        routes_.Append("<rte>\r\n  <name>");
        routes_.Append(batch.Get(item, Batch::kLat));
        routes_.Append(kRouteNameToPoints);
        inRoute_ = true;
        break;
      case Batch::Item::kRouteEnd:
        if (inRoute_) CloseRoute();
        break;
    }
    if (out_.size() >= kFlushAt && !flush_(out_.bytes())) return false;
    if (routes_.size() >= spillAt_) [[unlikely]]
      SpillRoutes();
    if (failed_) [[unlikely]]
      return false;
  }
  return true;
}

void GpxWriter::Drain() {
  if (inRoute_) {
    if (routes_.size() >= spillAt_) SpillRoutes();
  } else if (out_.size() >= kFlushAt) {
    if (failed_ || !flush_(out_.bytes())) {
      failed_ = true;
      out_.clear();  // the output is lost: its text need not pile up
    }
  }
}

// Route text past the bound goes to the scratch file. Where none can be made,
// or it cannot take more, the text stays in memory as it would without one:
// what the file holds stays good.
void GpxWriter::SpillRoutes() {
  if (!spilled_) spilled_ = std::make_unique<ScratchFile>(spillFolder_);
  if (!spilled_->ok() || spilled_->Write(routes_.view()) != 0) {
    spillAt_ = std::numeric_limits<std::size_t>::max();
    return;
  }
  routes_.clear();
}

// The spilled route text, read back into the output in large chunks.
bool GpxWriter::FlushSpilled() {
  if (!spilled_) return true;
  ByteBuffer& chunk = out_.bytes();
  for (;;) {
    char* const p = chunk.Reserve(kFlushAt);
    const std::size_t n = spilled_->Read(p, kFlushAt, scratchError_);
    if (scratchError_ != 0) return false;
    if (n == 0) break;
    chunk.Commit(p + n);
    if (!flush_(chunk)) return false;
  }
  spilled_.reset();
  return true;
}

bool GpxWriter::Finish() {
  if (inRoute_) CloseRoute();
  // The routes go as they are, not copied behind the waypoints first.
  if (spilled_ || !routes_.empty()) {
    if (!flush_(out_.bytes()) || !FlushSpilled()) return false;
    if (!routes_.empty() && !flush_(routes_.bytes())) return false;
  }
  out_.Append("</gpx>\r\n");
  return flush_(out_.bytes());
}

void GpxWriter::WritePoint(const Batch& batch, const Batch::Item& item, std::size_t nameHash) {
  using B = Batch;
  const std::string* const renamed = MakeUnique(batch.Get(item, B::kName), nameHash);
  if (renamed) [[unlikely]] {
    ++renamed_;
    if (item.input >= renamedBy_.size()) renamedBy_.resize(item.input + 1);
    ++renamedBy_[item.input];
  }
  const std::string_view name = renamed ? std::string_view(*renamed) : batch.Get(item, B::kName);
  const std::string_view comment = batch.Get(item, B::kComment);
  const std::string_view category = batch.Get(item, B::kCategory);
  if (item.ends[B::kCategory] - item.begin + comment.size() + name.size() > kLongPoint)
      [[unlikely]] {
    WriteLongPoint(batch, item, name);
    return;
  }
  PaddedBuffer& out = inRoute_ ? routes_ : out_;
  char* p = out.Reserve(kPointFixedMost + kEscapedMost * (item.ends[B::kCategory] - item.begin +
                                                          comment.size() + name.size()));
  p = Put(p, inRoute_ ? "  <rtept lat=\"" : "  <wpt lat=\"");
  p = Put(p, batch.Get(item, B::kLat));
  p = Put(p, "\" lon=\"");
  p = Put(p, batch.Get(item, B::kLon));
  p = Put(p, "\">\r\n    <name>");
  p = renamed ? PutEscaped(p, name) : PutEscapedPadded(p, batch.Padded(item, B::kName));
  p = Put(p, "</name>\r\n    <cmt>");
  char* const escapedComment = p;
  p = PutEscapedPadded(p, batch.Padded(item, B::kComment));
  const std::string_view written(escapedComment, p - escapedComment);
  p = Put(p, "</cmt>\r\n    <desc>");
  p = Put(p, written);
  p = Put(p, "</desc>\r\n    <sym>");
  p = PutEscapedPadded(p, batch.Padded(item, B::kSymbol));
  p = Put(p, kSymbolToDisplayMode);
  if (!category.empty()) {
    p = Put(p, kCategoryOpen);
    p = PutEscapedPadded(p, batch.Padded(item, B::kCategory));
    p = Put(p, kCategoryClose);
  }
  p = Put(p, kExtensionsClose);
  p = Put(p, inRoute_ ? "  </rtept>\r\n\r\n" : "  </wpt>\r\n\r\n");
  out.Commit(p);
  ++count_;
}

// The same text as WritePoint gives, each value in pieces.
void GpxWriter::WriteLongPoint(const Batch& batch, const Batch::Item& item, std::string_view name) {
  using B = Batch;
  PaddedBuffer& out = inRoute_ ? routes_ : out_;
  const auto put = [&](std::string_view text) {
    out.Append(text);
    Drain();
  };
  const auto value = [&](std::string_view text) {
    for (std::size_t at = 0; at < text.size(); at += kPiece) {
      const std::string_view piece = text.substr(at, kPiece);
      out.Commit(PutEscaped(out.Reserve(kEscapedMost * piece.size()), piece));
      Drain();
    }
  };
  put(inRoute_ ? "  <rtept lat=\"" : "  <wpt lat=\"");
  value(batch.Get(item, B::kLat));
  put("\" lon=\"");
  value(batch.Get(item, B::kLon));
  put("\">\r\n    <name>");
  value(name);
  put("</name>\r\n    <cmt>");
  value(batch.Get(item, B::kComment));
  put("</cmt>\r\n    <desc>");
  value(batch.Get(item, B::kComment));
  put("</desc>\r\n    <sym>");
  value(batch.Get(item, B::kSymbol));
  put(kSymbolToDisplayMode);
  if (const std::string_view category = batch.Get(item, B::kCategory); !category.empty()) {
    put(kCategoryOpen);
    value(category);
    put(kCategoryClose);
  }
  put(kExtensionsClose);
  put(inRoute_ ? "  </rtept>\r\n\r\n" : "  </wpt>\r\n\r\n");
  ++count_;
}

// The next number to try is kept per base name, so many equal names stay
// linear.
const std::string* GpxWriter::MakeUnique(std::string_view name, std::size_t hash) {
  if (used_.Insert(name, hash)) return nullptr;
  std::size_t& k = nextSuffix_[std::string(name)];
  do {
    ++k;
    candidate_.assign(name).append(std::to_string(1000 + k).substr(1));
  } while (!used_.Insert(candidate_));
  return &candidate_;
}

void GpxWriter::CloseRoute() {
  routes_.Append("</rte>\r\n\r\n");
  inRoute_ = false;
}

std::thread StartThread(std::function<void()> fn) {
  return std::thread(std::move(fn));
}

WriterThread::WriterThread(GpxWriter& writer, ThreadStarter start) : writer_(writer) {
  try {
    thread_ = start([this] { Run(); });
  } catch (const std::system_error&) {
    here_ = true;  // a process or memory limit: write on this thread instead
  }
}

WriterThread::~WriterThread() {
  queue_.Close();
  if (thread_.joinable()) thread_.join();
}

bool WriterThread::Put(Batch& batch) {
  if (here_) return WriteHere(batch);
  if (!queue_.Put(batch)) return false;
  batch.clear();
  return true;
}

// As Run does with each batch it takes: what the writer throws waits for
// Finish, and a writer that stopped takes no more.
bool WriterThread::WriteHere(Batch& batch) {
  if (stopped_) return false;
  try {
    stopped_ = !writer_.Write(batch);
  } catch (...) {
    error_ = std::current_exception();
    stopped_ = true;
  }
  batch.clear();
  return !stopped_;
}

bool WriterThread::Finish() {
  if (here_ && !stopped_) {
    stopped_ = true;
    try {
      ok_ = writer_.Finish();
    } catch (...) {
      error_ = std::current_exception();
    }
  }
  queue_.End();
  if (thread_.joinable()) thread_.join();
  if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
  return ok_;
}

// What the writer throws (memory running out) is kept for the reading side,
// which Finish hands it to.
void WriterThread::Run() {
  try {
    Batch batch;
    while (queue_.Take(batch))
      if (!writer_.Write(batch)) {
        queue_.Close();
        return;
      }
    ok_ = !queue_.closed() && writer_.Finish();
  } catch (...) {
    error_ = std::current_exception();
    queue_.Close();
  }
}

}  // namespace marklode

#include "engine/gpx_to_csv.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/byte_scan.h"
#include "engine/gpx_reader.h"
#include "engine/input_formats.h"
#include "engine/output_set.h"
#include "engine/reports.h"
#include "engine/run_report.h"
#include "engine/templates.h"
#include "services/os.h"
#include "services/platform.h"
#include "services/strings.h"
#include "services/sync.h"
#include "services/text_decoding.h"

namespace marklode {
namespace {

constexpr std::size_t kPoiNameChars = 39;

// "@" and a number ends a POI name as its speed suffix.
bool IsSpeedComment(std::string_view comment) {
  return !comment.empty() && comment[0] == '@' && IsDecimalNumber(comment.substr(1));
}

// Appends text as the inside of a quoted field. A field must never end its
// record early: line breaks become spaces in a name and comment line joins in
// a comment, and a quote is doubled, so that quotes still pair and a comma
// after one stays in the field.
void AppendField(ByteBuffer& record, std::string_view text, const char* lineJoiner) {
  const char* const e = text.data() + text.size();
  if (FindFirstOf<'\r', '\n', '"'>(text.data(), e) == e) {  // the usual case
    record.Append(text);
    return;
  }
  std::string joined;
  if (FindFirstOf<'\r', '\n'>(text.data(), e) != e) {
    if (!lineJoiner) {
      joined.assign(text);
      JoinNameLines(joined);
    } else if (std::string_view(lineJoiner) != "\n" || text.find('\r') != std::string_view::npos) {
      joined = JoinCommentLines(text, lineJoiner);  // an LF alone is kept: records end in CR LF
    } else {
      joined.assign(text);
    }
    text = joined;
  }
  for (std::size_t q; (q = text.find('"')) != std::string_view::npos; text.remove_prefix(q + 1)) {
    record.Append(text.substr(0, q + 1));
    record.Append("\"");
  }
  record.Append(text);
}

// Cuts a POI name to 39 characters, in place; with a speed suffix "@n" in it,
// only the part before the "@" is cut, and anything from a second "@" on is
// dropped. True when it was.
bool TruncatePoiName(std::string& name) {
  const std::size_t at = name.find('@');
  if (at == std::string::npos) {
    name.resize(FirstChars(name, kPoiNameChars).size());
    return false;
  }
  const std::size_t second = name.find('@', at + 1);
  if (second != std::string::npos) name.resize(second);
  const std::size_t keep = FirstChars(std::string_view(name).substr(0, at), kPoiNameChars).size();
  name.erase(keep, at - keep);
  return second != std::string::npos;
}

// The stages a waypoint passes on its way to a record: the filters, the
// record's file, its POI name, its comment, and the record's text. Each
// stage keeps its room from one waypoint to the next.
class PoiRecordMaker {
 public:
  PoiRecordMaker(const Request& request, std::string_view inputStem, std::string_view outDir,
                 bool truncate)
      : filters_(request.filters),
        templates_(request.toPoi),
        inputStem_(inputStem),
        outDir_(outDir),
        truncate_(truncate),
        commentJoiner_(request.keepCommentLineBreaks ? "\n" : " - ") {}

  bool Passes(const GpxWaypoint& w) const {
    return (filters_.name.empty() || LikeMatch(w.name, filters_.name)) &&
           (filters_.comment.empty() || LikeMatch(w.comment, filters_.comment)) &&
           (filters_.category.empty() || LikeMatch(w.category, filters_.category));
  }

  // The letters the templates fill in, for this waypoint.
  void Take(const GpxWaypoint& w) {
    w_ = &w;
    const std::string_view W = truncate_ ? FirstChars(w.name, kPoiNameChars) : w.name;
    values_ = {inputStem_, W, w.comment, w.category};
  }

  // The file the file-name template names; only when there is one.
  // An empty name (no category for <C>) is "_": ".CSV" would be a hidden file.
  const std::string& FileName() {
    ExpandTemplateInto(stem_, templates_.fileName, kGpxLetters, values_, w_->values);
    MakeSafeFileName(stem_);
    if (stem_.empty()) stem_ = "_";
    file_.assign(outDir_).append(stem_).append(".CSV");
    return file_;
  }

  // The record: coordinates, then name and speed suffix, then the comment.
  std::string_view Record() {
    record_.clear();
    record_.Append(w_->lon);
    record_.Append(",");
    record_.Append(w_->lat);
    record_.Append(",\"");
    std::string_view suffix;
    AppendField(record_, PoiName(suffix), nullptr);
    AppendField(record_, suffix, nullptr);
    record_.Append("\"");
    if (!templates_.comment.empty()) {
      ExpandTemplateInto(comment_, templates_.comment, kGpxLetters, values_, w_->values);
      if (!comment_.empty()) {
        record_.Append(",\"");
        AppendField(record_, comment_, commentJoiner_);
        record_.Append("\"");
      }
    }
    return record_.view();
  }
  // Whether the last record's POI name lost what came from a second "@" on.
  bool cutAtSecondAt() const { return cutAtSecondAt_; }

 private:
  // The POI name as the template makes it, or the waypoint's, cut to its
  // characters; a comment "@n" becomes the speed suffix of a waypoint's own name.
  std::string_view PoiName(std::string_view& suffix) {
    const std::string_view W = values_[1];
    cutAtSecondAt_ = false;
    bool generated = false;
    if (!templates_.poiName.empty()) {
      ExpandTemplateInto(poiName_, templates_.poiName, kGpxLetters, values_, w_->values);
      if (!poiName_.empty()) {
        generated = true;
        const std::size_t at = poiName_.find('@');
        if (at != std::string::npos && !IsDecimalNumber(std::string_view(poiName_).substr(at + 1)))
          poiName_.resize(at);
      }
    }
    if (!generated && IsSpeedComment(w_->comment)) suffix = w_->comment;
    // The name, already cut to its characters, changes only at an "@": else
    // it is used where it lies.
    if (generated ||
        (truncate_ && FindFirstOf<'@'>(W.data(), W.data() + W.size()) != W.data() + W.size())) {
      if (!generated) poiName_.assign(W);
      if (truncate_) cutAtSecondAt_ = TruncatePoiName(poiName_);
      return poiName_;
    }
    return W;
  }

  const WaypointFilters& filters_;
  const PoiRecordTemplates& templates_;
  const std::string_view inputStem_;
  const std::string outDir_;
  const bool truncate_;
  const char* const commentJoiner_;
  const GpxWaypoint* w_ = nullptr;
  bool cutAtSecondAt_ = false;
  std::array<std::string_view, 4> values_;
  std::string stem_, file_, poiName_, comment_;
  ByteBuffer record_;
};

// Where the records of the waypoints go, in input order: invalid coordinates
// are told, a record is written to its file (the common one when file is
// null), but never over the profile (when one is given).
class RecordWriter {
 public:
  RecordWriter(MessageSink& messages, OutputSet& outputs, const std::string& commonFile,
               const std::string* profile)
      : messages_(messages), outputs_(outputs), commonFile_(commonFile) {
    if (!profile) return;
    // Each name the template gives is checked once against the profile.
    outputs_.RefuseWhere([this, profile](const std::string& file) {
      if (!SameFile(file, *profile)) return false;
      ShowOutputRefused(messages_, file);
      return true;
    });
  }

  void Invalid(std::string_view name) { ShowInvalidCoordinates(messages_, name); }
  void Record(const std::string* file, std::string_view record) {
    if (outputs_.WriteRecord(file ? *file : commonFile_, record)) ++written_;
  }
  // A record for the file named file, whose OutputSet::HashOf is hash.
  void Record(std::string_view file, std::size_t hash, std::string_view record) {
    if (outputs_.WriteRecord(file, record, hash)) ++written_;
  }
  std::int64_t written() const { return written_; }

 private:
  MessageSink& messages_;
  OutputSet& outputs_;
  const std::string& commonFile_;
  std::int64_t written_ = 0;
};

// The waypoints reader yields, through the filters, to sink. False when the
// progress sink cancelled.
template <class Reader, class Sink>
bool ConvertWaypoints(Reader& reader, PoiRecordMaker& maker, bool namedFiles, bool truncate,
                      ProgressSink* progress, Sink& sink, FileReport& report) {
  GpxWaypoint w;
  while (reader.Next(w)) {
    if (progress && progress->Cancelled()) return false;
    ++report.read;
    if (!maker.Passes(w)) {
      report.Skip(SkipReason::Filtered, reader.LineOf(w));
      continue;
    }
    if (!w.hasLat || !w.hasLon || !IsCoordinate(w.lat, 90) || !IsCoordinate(w.lon, 180)) {
      sink.Invalid(w.name);
      report.Skip(SkipReason::NoCoordinates, reader.LineOf(w));
      continue;
    }
    NoteCoordinates(report, w.lat, w.lon);
    if (truncate && w.name.size() > kPoiNameChars &&
        FirstChars(w.name, kPoiNameChars).size() < w.name.size())
      report.Renamed(NameChange::Cut);
    maker.Take(w);
    sink.Record(namedFiles ? &maker.FileName() : nullptr, maker.Record());
    if (w.nameJoined || maker.cutAtSecondAt()) [[unlikely]]
      report.Renamed(NameChange::Replaced);
  }
  return true;
}

// The waypoints reader dropped for want of a name, with their first lines.
void CountNameless(FileReport& report, const GpxReader& reader) {
  const std::span<const std::int64_t> lines = reader.namelessLines();
  for (const std::int64_t line : lines) report.Skip(SkipReason::NoName, line);
  report.read += static_cast<std::int64_t>(lines.size());
  report.SkipMany(SkipReason::NoName, reader.nameless() - static_cast<std::int64_t>(lines.size()));
}

// What a piece of the input gave, kept for the calling thread to write and
// tell in order: each entry is a record (after its file's name, with named
// files) or the name of a waypoint with invalid coordinates.
struct PieceRecords {
  struct Entry {
    std::size_t file, text;  // their lengths, one after the other in bytes
    std::size_t fileHash;    // worked out here, not on the thread that writes
    bool invalid;
  };
  std::string bytes;
  std::vector<Entry> entries;

  void Invalid(std::string_view name) {
    bytes.append(name);
    entries.push_back({0, name.size(), 0, true});
  }
  void Record(const std::string* file, std::string_view record) {
    if (file) bytes.append(*file);
    bytes.append(record);
    entries.push_back(
        {file ? file->size() : 0, record.size(), file ? OutputSet::HashOf(*file) : 0, false});
  }
};

// A piece of the input. It ends where a waypoint's start tag seems to begin,
// and holds a few bytes past that for the reader to look ahead; the next
// piece starts there.
struct Piece {
  ReadBuffer bytes;
  std::size_t size = 0;  // bytes read into it
  std::size_t cut = 0;   // its own bytes; the rest are the next piece's
  bool last = false;     // runs to the end of the input
  bool alone = false;    // no cut found: one reader goes on from its start
  // Set by the thread that read it.
  bool done = false;
  bool held = false;  // its reader stopped at the cut: the next piece starts in a known state
  PieceRecords records;
  FileReport counts;  // added to the file's report when the piece is written
  std::int64_t nameless = 0;
  std::int64_t lineEnds = 0;  // up to its cut, when held: its lines count from its start
  std::exception_ptr error;

  // Made ready for the next piece, keeping its room: pieces come and go by
  // the hundred, and a heap that hands large blocks back to the system each
  // time (Windows') would fault every page of each one in again.
  void Reuse() {
    size = cut = 0;
    last = alone = done = held = false;
    records.bytes.clear();
    records.entries.clear();
    counts = FileReport();
    nameless = lineEnds = 0;
    error = nullptr;
  }
};

// Pieces read ahead, for each thread: a thread slowed by another program on
// its processor leaves the others pieces to go on with.
constexpr std::size_t kPiecesPerThread = 3;

// More than the reader looks ahead from a "<".
constexpr std::size_t kPieceLookahead = 16;

bool IsTagEnd(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '>' || c == '/';
}

// The last "<wpt" start tag at or after low with kPieceLookahead bytes after
// it, or 0.
std::size_t FindCut(const char* p, std::size_t n, std::size_t low) {
  if (n < low + kPieceLookahead) return 0;
  for (std::size_t c = n - kPieceLookahead;; --c) {
    if (p[c] == '<' && p[c + 1] == 'w' && p[c + 2] == 'p' && p[c + 3] == 't' && IsTagEnd(p[c + 4]))
      return c;
    if (c <= low) return 0;
  }
}

// The bytes of the pieces not yet written, then the rest of the input.
class ChainSource : public ByteSource {
 public:
  ChainSource(std::vector<std::string_view> parts, ByteSource& rest)
      : parts_(std::move(parts)), rest_(rest) {}
  std::size_t Read(char* buf, std::size_t cap) override {
    for (; next_ < parts_.size(); ++next_) {
      std::string_view& part = parts_[next_];
      if (part.empty()) continue;
      const std::size_t k = std::min(cap, part.size());
      std::memcpy(buf, part.data(), k);
      part.remove_prefix(k);
      return k;
    }
    return rest_.Read(buf, cap);
  }
  std::uint64_t Size() const override { return rest_.Size(); }

 private:
  std::vector<std::string_view> parts_;
  std::size_t next_ = 0;
  ByteSource& rest_;
};

// Reads text in pieces that other threads convert, and writes their records
// in input order; messages and progress stay on the calling thread. Where a
// piece's reader did not stop at the cut (it fell inside a comment, CDATA or
// other markup), or no cut is found, one reader goes on from the start of
// that piece, whose state is known. False when cancelled.
class PieceConverter {
 public:
  PieceConverter(const Request& request, std::string_view inputStem, std::string_view outDir,
                 bool truncate, ProgressSink* progress, int threads, std::size_t pieceBytes)
      : request_(request),
        inputStem_(inputStem),
        outDir_(outDir),
        truncate_(truncate),
        namedFiles_(!request.toPoi.fileName.empty()),
        progress_(progress),
        threads_(threads),
        pieceBytes_(std::max<std::size_t>(pieceBytes, 2 * kPieceLookahead)) {}
  ~PieceConverter() { StopThreads(); }

  bool Run(DecodingSource& text, RecordWriter& writer, FileReport& report) {
    try {
      for (int i = 0; i < threads_; ++i) threads_list_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      // a process or memory limit: the threads there are do the work, or one reader alone
    }
    bool queuedAlone = threads_list_.empty(), first = true;
    for (;;) {
      while (!atEnd_ && !queuedAlone &&
             pieces_.size() < kPiecesPerThread * static_cast<std::size_t>(threads_)) {
        std::unique_ptr<Piece> piece = ReadPiece(text);
        if (!piece) return false;  // cancelled
        if (first && (text.utf16() || text.utf32() || text.unreadable()))
          piece->alone = true;  // decoded text: one reader, as ever
        first = false;
        atEnd_ = piece->last;
        queuedAlone = piece->alone;
        if (!piece->alone) {
          std::lock_guard lock(mutex_);
          todo_.push_back(piece.get());
        }
        pieces_.push_back(std::move(piece));
        work_.notify_one();
      }
      if (pieces_.empty()) {
        if (atEnd_) return true;
        break;  // no thread to convert pieces
      }
      Piece& front = *pieces_.front();
      if (front.alone) break;
      {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return front.done; });
      }
      if (front.error) std::rethrow_exception(front.error);
      if (!front.held) break;
      if (progress_ && progress_->Cancelled()) return false;  // asked at least once a piece
      const char* p = front.records.bytes.data();
      for (const PieceRecords::Entry& e : front.records.entries) {
        if (progress_ && progress_->Cancelled()) return false;
        if (e.invalid) {
          writer.Invalid(std::string_view(p, e.text));
        } else if (namedFiles_) {
          writer.Record(std::string_view(p, e.file), e.fileHash,
                        std::string_view(p + e.file, e.text));
        } else {
          writer.Record(nullptr, std::string_view(p, e.text));
        }
        p += e.file + e.text;
      }
      nameless_ += front.nameless;
      report.Add(front.counts, lineEnds_);
      lineEnds_ += front.lineEnds;
      spare_.push_back(std::move(pieces_.front()));
      pieces_.pop_front();
    }
    // One reader from the start of the first piece not written.
    StopThreads();
    std::vector<std::string_view> parts;
    std::uint64_t ahead = carry_.size();
    for (const auto& piece : pieces_) {
      parts.emplace_back(piece->bytes.data(), piece->cut);
      ahead += piece->cut;
    }
    parts.emplace_back(carry_);
    ChainSource rest(std::move(parts), text);
    GpxReader reader(rest, request_.keepCommentLineBreaks, progress_);
    reader.StartAfter(read_ - ahead);
    reader.StartLine(lineEnds_);
    PoiRecordMaker maker(request_, inputStem_, outDir_, truncate_);
    const bool finished =
        ConvertWaypoints(reader, maker, namedFiles_, truncate_, progress_, writer, report);
    nameless_ += reader.nameless();
    CountNameless(report, reader);
    return finished && !reader.cancelled();
  }

  std::int64_t nameless() const { return nameless_; }

 private:
  // The next piece of text, or null when the progress sink cancelled.
  std::unique_ptr<Piece> ReadPiece(DecodingSource& text) {
    std::unique_ptr<Piece> piece;
    if (spare_.empty()) {
      piece = std::make_unique<Piece>();
    } else {
      piece = std::move(spare_.back());
      spare_.pop_back();
      piece->Reuse();
    }
    std::size_t room = std::max(pieceBytes_, 2 * carry_.size());
    if (piece->bytes.size() != room + BlockReader::kPadding)
      piece->bytes.resize(room + BlockReader::kPadding);
    char* buf = piece->bytes.data();
    std::memcpy(buf, carry_.data(), carry_.size());
    std::size_t n = carry_.size(), low = 1;
    carry_.clear();
    for (;;) {
      bool end = false;
      while (n < room) {
        const std::size_t k =
            text.Read(buf + n, std::min<std::size_t>(MARKLODE_READ_BLOCK, room - n));
        if (k == 0) {
          end = true;
          break;
        }
        n += k;
        read_ += k;
        if (progress_ && !progress_->Update(read_, text.Size())) return nullptr;
      }
      piece->size = n;
      if (end) {
        piece->last = true;
        piece->cut = n;
        break;
      }
      if (const std::size_t c = FindCut(buf, n, low)) {
        piece->cut = c;
        carry_.assign(buf + c, n - c);
        break;
      }
      // A waypoint longer than a piece, or none: the piece grows, up to a
      // point, and then one reader goes on from its start.
      if (n >= 4 * pieceBytes_) {
        piece->alone = true;
        piece->cut = n;
        break;
      }
      low = n - kPieceLookahead + 1;
      room = 2 * n;
      piece->bytes.resize(room + BlockReader::kPadding);
      buf = piece->bytes.data();
    }
    return piece;
  }

  void Work() {
    PoiRecordMaker maker(request_, inputStem_, outDir_, truncate_);
    for (;;) {
      Piece* piece;
      {
        std::unique_lock lock(mutex_);
        work_.wait(lock, [&] { return stop_ || !todo_.empty(); });
        if (stop_) return;
        piece = todo_.front();
        todo_.pop_front();
      }
      try {
        GpxReader reader(piece->bytes, piece->size, request_.keepCommentLineBreaks);
        if (!piece->last) reader.StopAt(piece->cut);
        ConvertWaypoints(reader, maker, namedFiles_, truncate_, nullptr, piece->records,
                         piece->counts);
        piece->held = piece->last || reader.stopped();
        piece->nameless = reader.nameless();
        piece->lineEnds = reader.lineEnds();
        CountNameless(piece->counts, reader);
        reader.ReturnBytes(piece->bytes);
      } catch (...) {
        piece->error = std::current_exception();
      }
      {
        std::lock_guard lock(mutex_);
        piece->done = true;
      }
      done_.notify_all();
    }
  }

  void StopThreads() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    work_.notify_all();
    for (std::thread& t : threads_list_) t.join();
    threads_list_.clear();
  }

  const Request& request_;
  const std::string_view inputStem_;
  const std::string_view outDir_;
  const bool truncate_;
  const bool namedFiles_;
  ProgressSink* const progress_;
  const int threads_;
  const std::size_t pieceBytes_;
  std::deque<std::unique_ptr<Piece>> pieces_;  // read and not yet written, in input order
  std::vector<std::unique_ptr<Piece>> spare_;  // written, to be read into again
  std::string carry_;                          // read past the last cut
  std::uint64_t read_ = 0;
  bool atEnd_ = false;
  std::int64_t nameless_ = 0;
  std::int64_t lineEnds_ = 0;  // in the pieces written
  Mutex mutex_;
  CondVar work_, done_;
  std::deque<Piece*> todo_;  // pieces no thread has taken
  bool stop_ = false;
  std::vector<std::thread> threads_list_;
};

// The usual piece: large enough that handing pieces over costs nothing, small
// enough that the few in flight stay well within the memory a run may take.
constexpr std::size_t kPieceBytes = 256 << 10;

// The format of an input, from its name and, unless that is ".gpx", its
// first bytes; the file is read again from its start after (opened anew
// where the sniffing read to its end, which closes it).
InputFormat FormatOf(InputFile& in, const std::string& path) {
  std::string head;
  const std::string_view name = FileNamePart(path);
  if (name.size() < 4 || !IEquals(name.substr(name.size() - 4), ".gpx")) {
    head.resize(kSniffBytes);
    std::size_t n = 0;
    while (n < head.size()) {
      const std::size_t k = in.Read(head.data() + n, head.size() - n);
      if (k == 0) break;
      n += k;
    }
    head.resize(n);
    if (!in.failed() && !in.Seek(0)) in.Open(path);
  }
  return InputFormatOf(path, head);
}

}  // namespace

RunStatus ConvertGpxToCsv(const PlannedItem& item, const Request& request, RunServices& services,
                          ItemEvent& event) {
  MessageSink& messages = services.messages;
  ProgressSink* const progress = services.progress;
  event.outcome = ItemOutcome::NotWritten;
  const bool truncate =
      !IEquals(TrimSpaces(services.settings.GetRegistryValue("TruncatePOIname")), "false");
  const std::string_view inputName = FileNamePart(item.input);
  const std::string_view inputStem = inputName.substr(0, inputName.rfind('.'));
  // Where the records go unless a template names their file.
  const std::string& commonFile = item.output;

  InputFile in(messages);
  if (!in.Open(item.path)) return RunStatus::Done;
  const InputFormat format = FormatOf(in, item.path);
  if (in.failed()) return RunStatus::Done;

  DecodingSource text(in);  // UTF-16 and UTF-32 become UTF-8; anything else passes as it is
  OutputSet outputs(messages);
  if (services.check) outputs.WriteNothing();
  FileReport& report = event.files.emplace_back();
  report.file = item.input;
  const bool namedFiles = !request.toPoi.fileName.empty();
  RecordWriter writer(messages, outputs, commonFile,
                      namedFiles && !request.profile.empty() ? &request.profile : nullptr);

  // A large input is read in pieces on two threads where two processors are
  // there to run them; on one, the pieces would only cost.
  const int threads =
      services.gpxThreads > 0 ? services.gpxThreads : std::min(2, os::UsableCores());
  const std::size_t pieceBytes = services.gpxPieceBytes > 0 ? services.gpxPieceBytes : kPieceBytes;
  bool finished;
  std::int64_t nameless;
  std::string failure;  // why a reader other than GPX's stopped early
  if (format != InputFormat::Gpx) {
    // KML, KMZ and GeoJSON: one reader. A KMZ is read as the archive it is;
    // the others as text. A KML's reader runs ahead on a thread of its own
    // where there is a second processor, while this one writes the records.
    std::unique_ptr<WaypointReader> reader =
        MakeWaypointReader(format, format == InputFormat::Kmz ? static_cast<ByteSource&>(in) : text,
                           request, progress, threads > 1);
    if (!reader) {
      ShowWarning(messages, kReadWarningTitle, "This kind of input cannot be read", item.path);
      return RunStatus::Done;
    }
    PoiRecordMaker maker(request, inputStem, DirectoryPart(commonFile), truncate);
    finished = ConvertWaypoints(*reader, maker, namedFiles, truncate, progress, writer, report) &&
               !reader->cancelled();
    nameless = reader->nameless();
    report.SkipMany(SkipReason::NoName, nameless);
    reader->AddSkips(report);
    failure = reader->failure();
  } else if (threads > 1 && (in.Size() == 0 || in.Size() > pieceBytes)) {
    PieceConverter pieces(request, inputStem, DirectoryPart(commonFile), truncate, progress,
                          threads, pieceBytes);
    finished = pieces.Run(text, writer, report);
    nameless = pieces.nameless();
  } else {
    GpxReader reader(text, request.keepCommentLineBreaks, progress);
    PoiRecordMaker maker(request, inputStem, DirectoryPart(commonFile), truncate);
    finished = ConvertWaypoints(reader, maker, namedFiles, truncate, progress, writer, report) &&
               !reader.cancelled();
    nameless = reader.nameless();
    CountNameless(report, reader);
  }

  if (!finished || (progress && progress->Cancelled())) {
    outputs.DiscardAll();
    event.outcome = ItemOutcome::Cancelled;
    return RunStatus::Cancelled;
  }
  if (text.unreadable()) ShowUnreadableEncoding(messages, item.path);
  if (!failure.empty()) ShowWarning(messages, kReadWarningTitle, failure, item.path);
  if (in.failed() || text.unreadable() ||
      !failure.empty()) {  // a file read in part replaces nothing
    // What it held past the failure is unknown: the file counts as one.
    report.Skip(SkipReason::Unreadable);
    outputs.DiscardAll();
    return RunStatus::Done;
  }
  // Nameless waypoints are no POIs, but the user is told how many there were.
  if (nameless > 0) ShowNamelessSkipped(messages, nameless);
  std::int64_t written = writer.written() - outputs.CommitAll();
  event.committed = outputs.committed();
  event.entries = static_cast<std::int32_t>(written);
  report.written = written;
  event.outcome = ItemOutcome::Converted;
  return RunStatus::Done;
}

}  // namespace marklode

#include "engine/poi_to_gpx.h"

#include <optional>
#include <string>
#include <vector>

#include "engine/gpx_writer.h"
#include "engine/poi_reader.h"
#include "engine/reports.h"
#include "services/platform.h"
#include "services/strings.h"
#include "services/text_decoding.h"
#include "services/text_files.h"

namespace marklode {

std::string ConvertPoiTextToGpx(std::string_view csv, std::string_view fileName,
                                const PoiTemplates& templates, MessageSink& messages,
                                std::int32_t& count) {
  std::string gpx;
  GpxWriter writer([&](ByteBuffer& text) {
    gpx += text.view();
    text.clear();
    return true;
  });
  PoiReader reader(messages, templates, [&](Batch& batch) { return writer.Write(batch); });
  MemorySource src(csv);
  reader.File(src, fileName, nullptr);
  reader.Finish();
  writer.Finish();
  count = writer.count();
  return gpx;
}

RunStatus ConvertPoiToGpx(const PlannedItem& item, const Request& request, RunServices& services,
                          ItemEvent& event) {
  MessageSink& messages = services.messages;
  ProgressSink* const progress = services.progress;
  event.outcome = ItemOutcome::NotWritten;
  const std::string& dir = item.folder;
  const std::string& outputName = item.output;
  std::uint64_t inputBytes = 0;
  for (const std::string& name : item.files) inputBytes += FileSize(dir + name);
  // A check creates no output, not even its temporary: the text is counted
  // and dropped.
  std::optional<OutputFile> output;
  ChunkSink* chunks = nullptr;
  if (!services.check) {
    output.emplace(messages, outputName);
    // A point's GPX takes about nine times its line of POI-CSV.
    chunks = output->Chunks(inputBytes * 9);
    if (!chunks) return RunStatus::Done;  // reported once; nothing can be written
  } else if (OutputFile(messages, outputName).WouldOpen() != 0) {
    return RunStatus::Done;  // as the run would stop, with the same word
  }
  const auto drop = [](ByteBuffer& text) {
    text.clear();
    return true;
  };

  // Reading here, writing on a thread of its own (or here too, where the
  // system gives no thread): messages and progress stay on this thread.
  // Routes that wait for the end wait in the output's folder past a bound,
  // where the output itself needs the room anyway.
  GpxWriter writer(
      chunks ? GpxWriter::Flush([chunks](ByteBuffer& text) { return chunks->Submit(text); })
             : GpxWriter::Flush(drop),
      RouteSpill{chunks != nullptr, std::string(DirectoryPart(outputName))});
  writer.ExpectInput(inputBytes);
  std::optional<WriterThread> writing(std::in_place, writer);
  const PoiTemplates templates{request.toGpx.comment, request.toGpx.name, request.toGpx.category,
                               request.toGpx.icon};
  PoiReader reader(messages, templates, [&](Batch& batch) { return writing->Put(batch); });
  bool writerGoesOn = true;
  bool inputFailed = false;  // an input that could not be read leaves the output as it was
  for (const std::string& name : item.files) {
    const std::string path = dir + name;
    FileReport& report = event.files.emplace_back();
    report.file = path;
    reader.ReportTo(report, static_cast<std::uint32_t>(event.files.size() - 1));
    InputFile in(messages);
    if (!in.Open(path)) {
      inputFailed = true;
      continue;
    }
    DecodingSource text(in);  // UTF-16 and UTF-32 become UTF-8; anything else passes as it is
    if (!reader.File(text, name, progress)) {
      writerGoesOn = false;
      break;
    }
    if (text.unreadable()) ShowUnreadableEncoding(messages, path);
    if (in.failed() || text.unreadable()) {
      // What it held past the failure is unknown: the file counts as one.
      report.Skip(SkipReason::Unreadable);
      inputFailed = true;
    }
  }
  // Until the output is in place, nothing was written.
  const auto unwritten = [&] {
    for (FileReport& f : event.files) f.written = 0;
  };
  if (reader.cancelled()) {
    writing.reset();
    if (output) output->Discard();
    unwritten();
    event.outcome = ItemOutcome::Cancelled;
    return RunStatus::Cancelled;
  }
  if (inputFailed) {
    writing.reset();
    if (output) output->Discard();
    unwritten();
    return RunStatus::Done;
  }
  bool written = writerGoesOn && reader.Finish();
  written = writing->Finish() && written;  // joins always; throws what the writer threw
  writing.reset();
  if (const int err = writer.scratchError(); err && output)
    output->GiveUp(err);                    // the routes are not whole
  if (progress && progress->Cancelled()) {  // a cancel that came after the last record
    if (output) output->Discard();
    unwritten();
    event.outcome = ItemOutcome::Cancelled;
    return RunStatus::Cancelled;
  }
  // A failed output is reported here, once, and its temporary removed.
  if (!output || output->Commit()) {
    event.committed = 1;
    event.outcome = ItemOutcome::Converted;
    if (written) event.entries = writer.count();
  }
  if (!written || event.committed == 0) unwritten();
  // Names are made unique across the whole output; each is counted for the
  // input it came from.
  for (std::size_t i = 0; i < event.files.size(); ++i)
    event.files[i].Renamed(NameChange::Unique, writer.renamed(i));
  return RunStatus::Done;
}

}  // namespace marklode

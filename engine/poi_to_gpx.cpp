#include "engine/poi_to_gpx.h"

#include <optional>
#include <string>
#include <vector>

#include "engine/gpx_writer.h"
#include "engine/output_names.h"
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

RunStatus ConvertPoiToGpx(RunContext& ctx, std::string_view commentTemplate,
                          std::string_view nameTemplate, std::string_view categoryTemplate,
                          std::string_view iconTemplate) {
  ctx.EntriesConverted = 0;
  const std::string pattern = CompletedInput(ctx.InputSpec, false);
  if (const std::string why = NotARegularFileText(ctx.InputSpec, pattern); !why.empty()) {
    ShowInputNotAFile(ctx.messages, why);
    return RunStatus::Stopped;
  }
  const std::vector<std::string> files = FindFiles(pattern);
  if (files.empty()) {
    ShowInputMissing(ctx.messages, pattern);
    return RunStatus::Stopped;
  }
  const std::string_view dir = DirectoryPart(pattern);
  const std::string outputName = OutputNameOf(pattern, ctx.OutputSpec, false);
  if (HasWildcards(outputName)) {
    ShowWildcardGpxOutput(ctx.messages, outputName);
    return RunStatus::Stopped;
  }

  // The output may not replace one of the inputs: they are still to be read
  // while it is written.
  if (ReplacesAnInput(dir, files, outputName)) {
    ShowOutputIsItsInput(ctx.messages, outputName);
    return RunStatus::Stopped;
  }
  OutputFile output(ctx.messages, outputName);
  ChunkSink* chunks = output.Chunks();
  if (!chunks) return RunStatus::Done;  // reported once; nothing can be written

  // Reading here, writing on a thread of its own (or here too, where the
  // system gives no thread): messages and progress stay on this thread.
  // Routes that wait for the end wait in the output's folder past a bound,
  // where the output itself needs the room anyway.
  GpxWriter writer([chunks](ByteBuffer& text) { return chunks->Submit(text); },
                   RouteSpill{true, std::string(DirectoryPart(outputName))});
  std::uint64_t inputBytes = 0;
  for (const std::string& name : files) inputBytes += FileSize(std::string(dir) + name);
  writer.ExpectInput(inputBytes);
  std::optional<WriterThread> writing(std::in_place, writer);
  const PoiTemplates templates{commentTemplate, nameTemplate, categoryTemplate, iconTemplate};
  PoiReader reader(ctx.messages, templates, [&](Batch& batch) { return writing->Put(batch); });
  bool writerGoesOn = true;
  bool inputFailed = false;  // an input that could not be read leaves the output as it was
  for (const std::string& name : files) {
    const std::string path = std::string(dir) + name;
    InputFile in(ctx.messages);
    if (!in.Open(path)) {
      inputFailed = true;
      continue;
    }
    DecodingSource text(in);  // UTF-16 and UTF-32 become UTF-8; anything else passes as it is
    if (!reader.File(text, name, ctx.progress)) {
      writerGoesOn = false;
      break;
    }
    if (text.unreadable()) ShowUnreadableEncoding(ctx.messages, path);
    if (in.failed() || text.unreadable()) inputFailed = true;
  }
  if (reader.cancelled()) {
    writing.reset();
    output.Discard();
    return RunStatus::Cancelled;
  }
  if (inputFailed) {
    writing.reset();
    output.Discard();
    return RunStatus::Done;
  }
  bool written = writerGoesOn && reader.Finish();
  written = writing->Finish() && written;  // joins always; throws what the writer threw
  writing.reset();
  if (const int err = writer.scratchError()) output.GiveUp(err);  // the routes are not whole
  if (ctx.progress && ctx.progress->Cancelled()) {  // a cancel that came after the last record
    output.Discard();
    return RunStatus::Cancelled;
  }
  // A failed output is reported here, once, and its temporary removed.
  if (output.Commit()) {
    ++ctx.OutputsCommitted;
    if (written) ctx.EntriesConverted = writer.count();
  }
  return RunStatus::Done;
}

}  // namespace marklode

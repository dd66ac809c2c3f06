// Conversion profiles: INI-style files holding one conversion with its input,
// output, filters and templates, and the two built-in templates new profiles are
// written from.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/run_context.h"

namespace marklode {

struct ConversionProfile {
  std::string Input, Output, WaypointNameFilter, CommentFilter, CategoryFilter, GenerateCSVFileName,
      GenerateWaypointName, GenerateWaypointComment, GenerateCategory, GenerateIconName,
      GeneratePOIName, GenerateComment;
  bool KeepCommentLineBreaks = false;
};

// Value of key in section of INI text: section and key without regard to case,
// ";" comment lines, the value after the first "=" trimmed, one pair of
// enclosing double or single quotes dropped; missing key: empty text.
std::string GetProfileValue(std::string_view iniText, std::string_view section,
                            std::string_view key);

ConversionProfile ParseProfile(std::string_view iniText);

// Runs the profile named by ctx.ProfileFile; entries receives EntriesConverted.
RunStatus RunProfile(RunContext& ctx, std::int32_t& entries);

// The built-in profile template "GPXTOCSV" or "CSVTOGPX" (any case), bytes as
// stored (CR LF line ends); empty for another name.
std::string_view LoadProfileTemplate(std::string_view name);

// A template with "%INFILE%", "%OUTFILE%" and "%CMTBREAK%" filled in (exact
// letter case), as Create Profile writes it before its final CR LF.
std::string FillProfileTemplate(std::string_view templ, std::string_view inFile,
                                std::string_view outFile, bool keepCommentBreaks);

}  // namespace marklode

// Conversion profiles: INI-style files holding one conversion with its input,
// output, filters and templates, and the two built-in templates new profiles are
// written from.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/request.h"
#include "services/messages.h"

namespace marklode {

struct ConversionProfile {
  std::string Input, Output, WaypointNameFilter, CommentFilter, CategoryFilter, GenerateCSVFileName,
      GenerateWaypointName, GenerateWaypointComment, GenerateCategory, GenerateIconName,
      GeneratePOIName, GenerateComment, ShapesAsPoints;
  bool KeepCommentLineBreaks = false;
  bool CategoryFromFolderPath = false;
};

// The keys of a profile's [Profile] section and the fields they fill: a text
// as read, or a flag that is set by "true" in any case. ParseProfile reads
// these, the templates write them (a test holds the two alike) and
// tests/manual_names.sh takes the names between the markers below to find
// in the manual page.
struct ProfileKey {
  std::string_view name;
  std::string ConversionProfile::*text = nullptr;
  bool ConversionProfile::*flag = nullptr;
};
// profile keys: begin
inline constexpr ProfileKey kProfileKeys[] = {
    {"Input", &ConversionProfile::Input},
    {"Output", &ConversionProfile::Output},
    {"WaypointNameFilter", &ConversionProfile::WaypointNameFilter},
    {"CommentFilter", &ConversionProfile::CommentFilter},
    {"CategoryFilter", &ConversionProfile::CategoryFilter},
    {"GenerateCSVFileName", &ConversionProfile::GenerateCSVFileName},
    {"GenerateWaypointName", &ConversionProfile::GenerateWaypointName},
    {"GenerateWaypointComment", &ConversionProfile::GenerateWaypointComment},
    {"GenerateCategory", &ConversionProfile::GenerateCategory},
    {"GenerateIconName", &ConversionProfile::GenerateIconName},
    {"GeneratePOIName", &ConversionProfile::GeneratePOIName},
    {"GenerateComment", &ConversionProfile::GenerateComment},
    {"KeepCommentLineBreaks", nullptr, &ConversionProfile::KeepCommentLineBreaks},
    {"CategoryFromFolderPath", nullptr, &ConversionProfile::CategoryFromFolderPath},
    {"ShapesAsPoints", &ConversionProfile::ShapesAsPoints},
};
// profile keys: end

// Value of key in section of INI text: section and key without regard to case,
// ";" comment lines, the value after the first "=" trimmed, one pair of
// enclosing double or single quotes dropped; missing key: empty text.
std::string GetProfileValue(std::string_view iniText, std::string_view section,
                            std::string_view key);

ConversionProfile ParseProfile(std::string_view iniText);

// The request a profile makes: a ".GPX" input converts to POI-CSV, any other
// to GPX, with the profile's filters and templates (an empty one switches its
// feature off). A profile that cannot be found or read is told and taken as
// empty, which then names no input.
Request RequestOf(const ConversionProfile& profile, std::string profilePath);
Request ReadProfileRequest(const std::string& profileFile, MessageSink& messages);

// ShapesAsPoints: "FirstVertex" or "Centroid" (any case) asks for a point for
// each line and polygon of KML and GeoJSON input; anything else for none.
ShapePoint ShapePointOf(std::string_view value);
std::string_view ShapePointName(ShapePoint shapes);  // empty for None

// The built-in profile template "GPXTOCSV" or "CSVTOGPX" (any case), bytes as
// stored (CR LF line ends); empty for another name.
std::string_view LoadProfileTemplate(std::string_view name);

// The keys newer than the templates, written after them only where they
// are set, so that a profile without them is the template byte for byte.
struct ProfileExtras {
  bool categoryFromFolderPath = false;
  ShapePoint shapePoint = ShapePoint::None;
};

// A template with "%INFILE%", "%OUTFILE%" and "%CMTBREAK%" filled in (exact
// letter case), and the extras that are set on lines of their own, as
// Create Profile writes it before its final CR LF.
std::string FillProfileTemplate(std::string_view templ, std::string_view inFile,
                                std::string_view outFile, bool keepCommentBreaks,
                                const ProfileExtras& extras = {});

}  // namespace marklode

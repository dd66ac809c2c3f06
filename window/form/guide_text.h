// The user guide for each system from its one source, resources/guide.md,
// and as RTF for the Windows guide window and Notes.rtf.
#pragma once

#include <string>
#include <string_view>

namespace marklode {

enum class GuideSystem { Linux, Windows };

// The guide's Markdown for one system. The source marks what only one
// system's users are to read: inline as {{linux:TEXT}} or {{windows:TEXT}}
// (TEXT without "}}"), and whole lines between a line {{linux}} or
// {{windows}} and a line {{end}}. The other system's passages are left out,
// the markers dropped.
std::string GuideEdition(std::string_view source, GuideSystem system);

// The guide's Markdown as an RTF document: "#" and "##" headings, paragraphs,
// "- " list items, lines indented by four spaces as code, **strong** and
// `code` within a line. "\", "{" and "}" are escaped and every character
// beyond ASCII is written as \uN, so the RTF is plain ASCII.
std::string GuideRtf(std::string_view markdown);

// One line of text as RTF, its characters escaped as GuideRtf escapes them.
std::string RtfEscaped(std::string_view utf8);

}  // namespace marklode

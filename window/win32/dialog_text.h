// The texts the Windows window hands to the system's dialogs and gets back
// from them, kept apart from the windows themselves so that they can be
// tested without a display.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace marklode {

// A chooser's filter, "Description (*.X)|*.X|...", as the file dialogs take
// it: each part ended by a NUL and the whole by one more. An empty filter
// stays empty (the dialog then shows every file).
std::wstring DialogFilter(std::string_view filter);

// What an open or save dialog left in its name buffer (at most `size`
// characters), as full paths in the order given: one path, or, from a
// multi-selection, the folder followed by bare names, each ended by a NUL
// and the list by one more.
std::vector<std::string> SelectedFiles(const wchar_t* buffer, std::size_t size);

// A byte count for the progress window: "512 bytes", "1.5 KB", "20.0 MB".
std::string ByteCountText(std::uint64_t bytes);

// The progress window's two lines: the heading the progress policy gives and
// how much of the file has been read.
std::string ProgressText(std::string_view heading, std::uint64_t bytesDone,
                         std::uint64_t bytesTotal);

// The user guide's Markdown as plain text for a text box: headings without
// their "#" marks, no "**" around strong words and no backquotes around code.
std::string GuidePlainText(std::string_view markdown);

// Text with bare line feeds as CR LF, as a multi-line edit control needs it.
std::wstring WithCrLf(std::wstring_view text);

}  // namespace marklode

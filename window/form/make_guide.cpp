// Writes the user guide for one system from its source at build time: the
// Markdown edition and the RTF one (Notes.rtf).
// Usage: marklode_make_guide SOURCE linux|windows OUT.md OUT.rtf
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "window/form/guide_text.h"

namespace {

bool Write(const char* path, const std::string& text) {
  std::remove(path);  // the build's own file of an earlier run
  std::ofstream out(path, std::ios::binary);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fputs("usage: marklode_make_guide SOURCE linux|windows OUT.md OUT.rtf\n", stderr);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string source{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!in.good() && !in.eof()) {
    std::fprintf(stderr, "marklode_make_guide: cannot read %s\n", argv[1]);
    return 1;
  }
  const std::string system = argv[2];
  if (system != "linux" && system != "windows") {
    std::fprintf(stderr, "marklode_make_guide: no system %s\n", argv[2]);
    return 2;
  }
  const std::string markdown = marklode::GuideEdition(
      source, system == "linux" ? marklode::GuideSystem::Linux : marklode::GuideSystem::Windows);
  if (!Write(argv[3], markdown) || !Write(argv[4], marklode::GuideRtf(markdown))) {
    std::fprintf(stderr, "marklode_make_guide: cannot write %s or %s\n", argv[3], argv[4]);
    return 1;
  }
  return 0;
}

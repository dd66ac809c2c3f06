// Times the readers alone, without the conversion around them: every point
// of a GPX or GeoJSON file read and dropped, in MB/s (best of three).
//
//   c++ -std=c++20 -O2 -Ibuild/dev/layers/engine -Ibuild/dev/generated bench/read_speed.cpp
//       build/dev/libmarklode_engine.a build/dev/libmarklode_services.a -lpthread -o
//       build/bench/read_speed
//   build/bench/read_speed IN.gpx|IN.geojson
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "engine/geojson_reader.h"
#include "engine/gpx_reader.h"
#include "services/messages.h"
#include "services/text_files.h"

namespace {

class Quiet : public marklode::MessageSink {
 protected:
  int Present(std::string_view text, marklode::MessageKind, std::string_view) override {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    return 0;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string path = argv[1];
  const bool geojson = path.size() > 4 && path.substr(path.size() - 4) != ".gpx";
  double best = 1e9;
  long long points = 0;
  std::uint64_t bytes = 0;
  for (int run = 0; run < 3; ++run) {
    Quiet quiet;
    marklode::InputFile in(quiet);
    if (!in.Open(path)) return 1;
    bytes = in.Size();
    const auto t0 = std::chrono::steady_clock::now();
    marklode::GpxWaypoint w;
    points = 0;
    if (geojson) {
      marklode::GeoJsonReader r(in);
      std::vector<std::pair<std::string, std::string>> named;
      while (r.Next(w, named)) ++points;
      if (!r.problem().empty()) std::fprintf(stderr, "%s\n", r.problem().c_str());
    } else {
      marklode::GpxReader r(in, false);
      while (r.Next(w)) ++points;
    }
    best = std::min(best,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  std::printf("%s: %lld points, %.2f s, %.1f MB/s\n", geojson ? "GeoJSON" : "GPX", points, best,
              bytes / 1048576.0 / best);
  return 0;
}

#!/usr/bin/env bash
# Sets up the machine, builds Marklode and converts the bundled examples into
# build/demo/, printing what was written.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset dev >/dev/null
cmake --build --preset dev -j"$(nproc)"
rm -rf build/demo && mkdir -p build/demo
cp examples/* build/demo/
echo "== marklode build/demo/club-tour.gpx  (GPX -> POI-CSV)"
./build/dev/marklode build/demo/club-tour.gpx || true
cat build/demo/club-tour.CSV; echo
if [ -f build/demo/europe-sights.csv ]; then
  echo "== marklode /r build/demo/europe-sights.csv  (POI-CSV -> GPX)"
  ./build/dev/marklode /r build/demo/europe-sights.csv || true
  cat build/demo/europe-sights.GPX
fi

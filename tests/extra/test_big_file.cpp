// A GPX file larger than 4 GiB converts whole: no offset, size or count on
// the way may be 32 bits wide. The file is mostly a hole (a seek past the
// end before a write leaves zeros that take no disk where the file system
// keeps holes, as ext4 does, and NTFS as Wine presents it), inside an XML
// comment that the reader skips as it streams. One waypoint comes before the
// hole, one straddles the 4 GiB mark and one lies well past it, so a
// position that wraps at 4 GiB would lose or repeat a waypoint.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/extra/extra_util.h"

namespace marklode {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t k4GiB = std::uint64_t{1} << 32;

TEST(BigFile, WaypointsPastFourGibibytesConvert) {
  test::TempDir dir;
  const std::string gpx = dir / "big.gpx";
  const std::string straddling = " --> <wpt lat=\"3\" lon=\"4\"><name>B</name></wpt>\r\n";
  const std::string tail = "<wpt lat=\"5\" lon=\"6\"><name>C</name></wpt>\r\n</gpx>\r\n";
  const std::uint64_t tailAt = k4GiB + (64u << 20);
  // Where holes are not kept, the zeros take their full size.
  const std::uint64_t need = tailAt + (256u << 20);
  if (const auto free = fs::space(test::FsPath(dir.path())).available; free < need)
    GTEST_SKIP() << "the temporary folder has " << (free >> 20) << " MiB free, and a file "
                 << "system without holes needs " << (need >> 20) << " MiB for this file";
  {
    std::ofstream out(test::FsPath(gpx), std::ios::binary);
    out << "<?xml version=\"1.0\"?>\r\n<gpx>\r\n<wpt lat=\"1\" lon=\"2\"><name>A</name></wpt>\r\n"
        << "<!-- ";
    out.seekp(static_cast<std::streamoff>(k4GiB - 20));  // B's start tag spans the mark
    out << straddling;
    out.seekp(static_cast<std::streamoff>(tailAt));
    out << tail;
    ASSERT_TRUE(out.good()) << "could not write " << gpx;
  }
  ASSERT_EQ(fs::file_size(test::FsPath(gpx)), tailAt + tail.size());

  const auto ran = test::RunMarklode({gpx});
  EXPECT_EQ(ran.status, 0);
  EXPECT_EQ(ran.err, "");
  EXPECT_EQ(test::ReadFile(dir / "big.CSV"), "2,1,\"A\"\r\n4,3,\"B\"\r\n6,5,\"C\"");
}

}  // namespace
}  // namespace marklode

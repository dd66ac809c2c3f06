// A real case-blind folder on Linux: an exFAT volume in a file, mounted
// through a loop device and FUSE (exfat-fuse), as a memory card is. Needs
// root and the tools scripts/setup.sh installs; skipped, with the reason,
// where the volume cannot be mounted (a container without loop devices).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/gpx_to_csv.h"
#include "services/os.h"
#include "tests/extra/extra_util.h"

namespace marklode {
namespace {

// Mounted for the life of the object; unmounted and its loop device freed
// before the folder that holds it goes.
class ExfatVolume {
 public:
  explicit ExfatVolume(const test::TempDir& dir) : image_(dir / "exfat.img"), path_(dir / "mnt") {
    std::filesystem::create_directory(test::FsPath(path_));
    test::WriteFile(image_, "");
    std::filesystem::resize_file(test::FsPath(image_), 8u << 20);
    if (!Run({"mkfs.exfat", image_})) return;
    test::Ran loop = test::RunCommand({"losetup", "--find", "--show", image_});
    if (loop.status != 0) {
      why_ = "losetup: " + loop.err;
      return;
    }
    loop_ = loop.out.substr(0, loop.out.find('\n'));
    mounted_ = Run({"mount.exfat-fuse", loop_, path_});
  }
  ~ExfatVolume() {
    if (mounted_) test::RunCommand({"umount", path_});
    if (!loop_.empty()) test::RunCommand({"losetup", "--detach", loop_});
  }
  ExfatVolume(const ExfatVolume&) = delete;
  ExfatVolume& operator=(const ExfatVolume&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }
  const std::string& path() const { return path_; }

 private:
  bool Run(const std::vector<std::string>& argv) {
    const test::Ran r = test::RunCommand(argv);
    if (r.status != 0) why_ = argv[0] + ": " + r.err + r.out;
    return r.status == 0;
  }

  std::string image_, path_, loop_, why_;
  bool mounted_ = false;
};

TEST(CaseBlindVolume, ExfatFolderIsFoundBlindAndGetsOneFileForNamesAlike) {
  if (::geteuid() != 0) GTEST_SKIP() << "a loop device needs root";
  for (const char* tool : {"mkfs.exfat", "mount.exfat-fuse", "losetup"})
    if (!test::HaveTool(tool))
      GTEST_SKIP() << tool << " is not installed (scripts/setup.sh installs exfatprogs and "
                   << "exfat-fuse)";
  test::TempDir dir;
  ExfatVolume volume(dir);
  if (!volume.mounted()) GTEST_SKIP() << "no exFAT volume could be mounted: " << volume.why();

  // FUSE is told by the question to the folder itself, which leaves nothing
  // behind; the ext4 beside it by its type.
  EXPECT_TRUE(os::FolderIgnoresCase(volume.path() + "/"));
  EXPECT_TRUE(test::Listing(volume.path()).empty());
  EXPECT_FALSE(os::FolderIgnoresCase(dir.path()));

  std::string gpx = "<gpx>";
  for (const char* cat : {"Food", "FOOD", "Fuel", "food"})
    gpx.append("<wpt lat='1' lon='2'><name>")
        .append(cat)
        .append("</name><gpxx:Category>")
        .append(cat)
        .append("</gpxx:Category></wpt>");
  test::WriteFile(dir / "trip.gpx", gpx + "</gpx>");
  test::Harness h;
  h.request.input = dir / "trip.gpx";
  h.request.output = volume.path() + "/trip.csv";
  h.request.toPoi = {"", "<C>", ""};
  ASSERT_EQ(h.ToPoi(), RunStatus::Done);
  EXPECT_TRUE(h.messages.boxes.empty()) << h.messages.Joined();
  EXPECT_EQ(h.result.entries, 4);
  EXPECT_EQ(test::Listing(volume.path()), (std::vector<std::string>{"Food.CSV", "Fuel.CSV"}));
  EXPECT_EQ(test::ReadFile(volume.path() + "/Food.CSV"),
            "2,1,\"Food\"\r\n2,1,\"FOOD\"\r\n2,1,\"food\"");
  EXPECT_EQ(test::ReadFile(volume.path() + "/Fuel.CSV"), "2,1,\"Fuel\"");
}

}  // namespace
}  // namespace marklode

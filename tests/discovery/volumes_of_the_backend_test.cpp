// Volumes a backend finds by itself (the drive letters of a Windows disk)
// join those of the mount table, each once per drive.

#include <gtest/gtest.h>

#include <fstream>

#include "discovery/volumes.h"
#include "support/sim_fixture.h"
#include "support/test_support.h"

namespace zorv {
namespace {

class LetteredPort : public test::RecordingPort {
 public:
  std::vector<std::string> mountedVolumes(int n) const override {
    if (n == 2) return {"E:\\", "F:\\", "E:\\"};
    if (n == 0) return {"/media/a"};
    return {};
  }
};

TEST(VolumesOfTheBackend, JoinTheMountTableOncePerDrive) {
  test::TempDir dir;
  const std::string table = dir.file("mountinfo");
  std::ofstream(table) << "36 35 8:1 / /media/a rw - ext4 /dev/sda1 rw\n";
  LetteredPort port;
  const VolumeMap map = readVolumes(port, table);
  EXPECT_EQ(volumesOnDisk(map, 0), std::vector<std::string>{"/media/a"});
  EXPECT_EQ(volumesOnDisk(map, 2), (std::vector<std::string>{"E:\\", "F:\\"}));
  EXPECT_TRUE(volumesOnDisk(map, 1).empty());
  EXPECT_EQ(map.size(), 3u);
}

}  // namespace
}  // namespace zorv

// Block devices with device numbers and mountinfo: Linux only.
#ifdef __linux__

// Mounts matched to a drive by the block device that holds its sectors: the
// device itself or one of its partitions, told apart through sysfs.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>

#include "discovery/volumes.h"
#include "support/sim_fixture.h"
#include "support/test_support.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;

// Physical drive 1 keeps its sectors on `device`.
class BlockDevicePort : public test::RecordingPort {
 public:
  explicit BlockDevicePort(std::string device) : device_(std::move(device)) {}
  std::string blockDevicePath(const std::string& path) const override {
    return path == physicalDrivePath(1) ? device_ : std::string();
  }

 private:
  std::string device_;
};

TEST(VolumesOnBlockDevices, TheDeviceAndItsPartitionsButNoOtherDevice) {
  // Any block device node will do as the drive's; its number is what counts.
  std::string device;
  for (const char* candidate : {"/dev/loop7", "/dev/loop0", "/dev/ram0"}) {
    struct stat st {};
    if (::stat(candidate, &st) == 0 && S_ISBLK(st.st_mode)) {
      device = candidate;
      break;
    }
  }
  if (device.empty()) GTEST_SKIP() << "no block device node to stand for a drive";
  struct stat st {};
  ASSERT_EQ(::stat(device.c_str(), &st), 0);
  const std::string disk = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));

  // sysfs as the kernel lays it out: a partition's directory lies in its
  // disk's and holds a "partition" file.
  test::TempDir sys;
  fs::create_directories(sys.path() + "/block/disk/disk1");
  fs::create_directories(sys.path() + "/block/other/other1");
  fs::create_directories(sys.path() + "/dev/block");
  std::ofstream(sys.path() + "/block/disk/dev") << disk << "\n";
  std::ofstream(sys.path() + "/block/disk/disk1/partition") << "1\n";
  std::ofstream(sys.path() + "/block/other/dev") << "8:0\n";
  std::ofstream(sys.path() + "/block/other/other1/partition") << "1\n";
  fs::create_directory_symlink(sys.path() + "/block/disk", sys.path() + "/dev/block/" + disk);
  fs::create_directory_symlink(sys.path() + "/block/disk/disk1", sys.path() + "/dev/block/259:4");
  fs::create_directory_symlink(sys.path() + "/block/other/other1", sys.path() + "/dev/block/259:5");

  BlockDevicePort port(device);
  const std::string mountinfo = "30 1 " + disk + " / /mnt/whole rw - ext4 x rw\n" +
                                "31 1 259:4 / /mnt/part\\040one rw - ext4 x rw\n" +
                                "32 1 259:5 / /mnt/other rw - ext4 x rw\n" +
                                "33 1 0:44 / /proc rw - proc proc rw\n" + "garbage\n";
  VolumeMap map = parseVolumesOnBlockDevices(port, mountinfo, sys.path());
  EXPECT_EQ(volumesOnDisk(map, 1), (std::vector<std::string>{"/mnt/whole", "/mnt/part one"}));
  EXPECT_EQ(map.size(), 2u);

  // A backend whose drives are on no block device has no such volumes.
  test::RecordingPort none;
  EXPECT_TRUE(parseVolumesOnBlockDevices(none, mountinfo, sys.path()).empty());
}

}  // namespace
}  // namespace zorv

#endif

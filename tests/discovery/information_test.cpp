#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "transport/host_file.h"
#include "discovery/config_block.h"
#include "discovery/enumerate.h"
#include "discovery/volumes.h"
#include "fake_bay.h"
#include "support/sim_fixture.h"

namespace zorv {
namespace {

using test::BayContext;
using test::FakeDrive;
using test::makeIdentify;

FakeDrive drive(const std::string& model, const std::string& serial, const std::string& fw, uint64_t sectors,
                const std::string& w135) {
  FakeDrive d;
  d.identify = makeIdentify(model, serial, fw, sectors, w135);
  return d;
}

TEST(InformationPass, BlocksWithAndWithoutVolumes) {
  BayContext b;
  b.bay.put(1, drive("ORBENNE PA1T", "AB 12 34", "R1.7", 1953525168, "TB"));
  b.bay.put(3, drive("OTHERCO DISK", "Z", "X", 1000, ""));
  b.bay.put(4, drive("ORBENNE TA256", "CD56", "T0", 500118192, ""));
  VolumeMap volumes = {{1, "/mnt/d"}, {4 - 4, "/"}, {1, "/mnt/e"}, {1, "/mnt/d"}};
  DriveListModel list;
  StringSink box;
  std::vector<DriveInformation> drives = RunDriveInformationPass(b.ctx, list, box, volumes);

  ASSERT_EQ(drives.size(), 2u);
  EXPECT_EQ(box.text(),
            "ORBENNEPA1T-1000TB\r\nVer: R1.7    \r\nSN:  AB1234\r\nDisk 1\r\nContains volume: /mnt/d /mnt/e\r\n"
            "--------End Of Drive Info-------\r\n"
            "ORBENNETA256-256\r\nVer: T0      \r\nSN:  CD56\r\nDisk 4\r\n--------End Of Drive Info-------\r\n");
  EXPECT_EQ(list.lines(), (std::vector<std::string>{"Physical Drive 1 ORBENNEPA1T 931G R1.7",
                                                     "Physical Drive 4 ORBENNETA256 238G T0"}));
  EXPECT_EQ(b.ctx.ucDriveCount, 2);
  EXPECT_EQ(b.ctx.ucSelDrive, 1);
  EXPECT_EQ(b.ctx.fgFamilyDrive, 1);
  EXPECT_EQ(b.ctx.DriveTable[0].strKnownModel, "PA1T");
  EXPECT_EQ(b.ctx.DriveTable[1].usModelClass, 1);
  // Every drive's identity follows on the pane, the last one selected.
  std::string pane = b.pane.text();
  EXPECT_NE(pane.find("Model Name      : ORBENNE PA1T"), std::string::npos);
  EXPECT_LT(pane.find("PA1T"), pane.find("Model Name      : ORBENNE TA256"));
}

TEST(InformationPass, NoDriveOfTheBrandLeavesTheBoxEmpty) {
  BayContext b;
  b.bay.put(0, drive("OTHERCO DISK", "Z", "X", 1000, ""));
  DriveListModel list;
  StringSink box;
  EXPECT_TRUE(RunDriveInformationPass(b.ctx, list, box, {}).empty());
  EXPECT_EQ(box.text(), "");
  EXPECT_EQ(list.count(), 0);
  EXPECT_EQ(b.ctx.ucSelDrive, kNoDrive);
  EXPECT_EQ(b.ctx.fgFamilyDrive, 0);

  FakeDrive denied;
  denied.openError = IoError::PermissionDenied;
  b.bay.put(0, denied);
  RunDriveInformationPass(b.ctx, list, box, {});
  EXPECT_EQ(box.text(), "No permission to use rec:0: run as root or with CAP_SYS_RAWIO (the group zorv may open the family's drives: README, \"Installing\")\r\n");
}

TEST(VolumeMap, MountInfoLinesMapToPhysicalDrives) {
  const char* text =
      "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
      "23 22 8:17 / /mnt/d rw - ext4 /dev/sdb1 rw\n"
      "24 22 8:18 / /mnt/my\\040data rw shared:5 master:1 - ext4 /dev/sdb2 rw\n"
      "25 22 0:45 / /srv rw - btrfs /dev/sdc3 rw\n"
      "26 22 259:1 / /nvme rw - ext4 /dev/nvme0n1p1 rw\n"
      "27 22 8:128 / /ninth rw - ext4 /dev/sdi rw\n"
      "28 22 0:30 / /proc rw - proc proc rw\n"
      "garbage line\n"
      "29 22 8:x / /bad rw - ext4 /dev/sdz1 rw\n"
      "30 22 8:33 / /mnt/d rw - ext4 /dev/sdc1 rw";
  VolumeMap map = parseVolumeMap(text);
  ASSERT_EQ(map.size(), 5u);
  EXPECT_EQ(volumesOnDisk(map, 0), std::vector<std::string>{"/"});
  EXPECT_EQ(volumesOnDisk(map, 1), (std::vector<std::string>{"/mnt/d", "/mnt/my data"}));
  EXPECT_EQ(volumesOnDisk(map, 2), (std::vector<std::string>{"/srv", "/mnt/d"}));
  EXPECT_TRUE(volumesOnDisk(map, 7).empty());
}

TEST(VolumeMap, ReadsAFileAndToleratesAMissingOne) {
  test::TempDir temp;
  const std::filesystem::path dir = temp.path();
  {
    std::ofstream(dir / "mountinfo") << "1 0 8:49 / /media/x rw - vfat /dev/sdd1 rw\n";
  }
  VolumeMap map = readVolumeMap((dir / "mountinfo").string());
  EXPECT_EQ(volumesOnDisk(map, 3), std::vector<std::string>{"/media/x"});
  EXPECT_TRUE(readVolumeMap((dir / "absent").string()).empty());
  EXPECT_TRUE(readVolumeMap("").empty());
}

// The question a raw-write guard asks: mounted file systems first, then
// the backend's claim on the drive.
TEST(DriveUse, MountedVolumesOrTheSystemsClaimMakeADriveInUse) {
  struct ClaimingBay : test::FakeBay {
    std::string claimed;
    IoOutcome probeExclusive(const std::string& path) override {
      return path == claimed ? IoOutcome::failure(IoError::Busy, EBUSY, "open " + path + ": busy (swap)")
                             : IoOutcome::success();
    }
  } bay;
  const VolumeMap volumes = {{1, "/mnt/d"}, {1, "/mnt/e"}, {0, "/"}};
  bay.claimed = bay.physicalDrivePath(2);

  DriveUse mounted = driveUse(bay, volumes, 1, bay.physicalDrivePath(1));
  EXPECT_TRUE(mounted.inUse());
  EXPECT_EQ(mounted.mountPoints, (std::vector<std::string>{"/mnt/d", "/mnt/e"}));
  DriveUse claimed = driveUse(bay, volumes, 2, bay.physicalDrivePath(2));
  EXPECT_TRUE(claimed.inUse());
  EXPECT_NE(claimed.claim.find("swap"), std::string::npos);
  EXPECT_FALSE(driveUse(bay, volumes, 3, bay.physicalDrivePath(3)).inUse());
}

TEST(ConfigBlock, TheBrandRangeIsInitialisedDataOfTheProgramOnce) {
  EXPECT_EQ(configBrandFirst(), 2);
  EXPECT_EQ(configBrandEnd(), 3);
  EXPECT_EQ(configRmaVariant(), 'A');
  // The code names are composed at run time so that this test adds no copy of them.
  volatile char shift = 1;
  std::string brandName = "[FQIBSJO", rmaName = "GBMMPXNFSF";
  for (char& c : brandName) c = static_cast<char>(c - shift);
  for (char& c : rmaName) c = static_cast<char>(c - shift);

  std::ifstream self(ownExecutablePath(), std::ios::binary);
  std::string image((std::istreambuf_iterator<char>(self)), std::istreambuf_iterator<char>());
  size_t at = image.find(brandName);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(image.find(brandName, at + 1), std::string::npos);
  ASSERT_LT(at + 21, image.size());
  EXPECT_EQ(image[at + 8], 2);
  EXPECT_EQ(image[at + 9], 3);
  EXPECT_EQ(image.substr(at + 10, 10), rmaName);
  EXPECT_EQ(image[at + 20], 'A');
}

}  // namespace
}  // namespace zorv

#include "platform/linux/sysfs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fake_tree.h"
#include "transport/drive_table.h"

namespace zorv::platform {
namespace {

using test::FakeTree;

constexpr const char* kSataDisk = "pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0";
constexpr const char* kUsbDisk = "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host4/target4:0:0/4:0:0:0";
constexpr const char* kSasDisk = "pci0000:00/0000:00:03.0/0000:03:00.0/host2/port-2:0/end_device-2:0/target2:0:0/2:0:0:0";

TEST(BusTypeFromPath, ClassifiesByPathComponent) {
  struct Case {
    const char* path;
    uint8_t bus;
  };
  const Case cases[] = {
      {"/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda", kBusSata},
      {"/devices/pci0000:00/0000:00:1f.2/ata12/host11/target11:0:0/11:0:0:0/block/sdl", kBusSata},
      {"/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host4/target4:0:0/4:0:0:0/block/sdb", kBusUsb},
      // A USB bridge in the path decides, whatever comes after it.
      {"/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ata7/host6/block/sdc", kBusUsb},
      {"/devices/pci0000:00/0000:00:03.0/0000:03:00.0/host2/target2:0:0/2:0:0:0/block/sdd", 0},
      {"/devices/virtual/block/loop0", 0},
      {"/devices/platform/catapult/host0/block/sde", 0},   // "ata" inside a name
      {"/devices/platform/usbip-host/host3/block/sdf", 0},  // "usb" without a number
      {"/devices/platform/ata/host0/block/sdg", 0},
      {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(busTypeFromDevicePath(c.path), c.bus) << c.path;
}

TEST(Sysfs, BusTypeFromAFakeTree) {
  FakeTree tree("usb1/ata2");  // the root's own path must not count
  tree.addDisk("sda", kSataDisk);
  tree.addDisk("sdb", kUsbDisk);
  tree.addDisk("sdc", kSasDisk);
  Sysfs sysfs(tree.sys());
  EXPECT_EQ(sysfs.busType("sda"), kBusSata);
  EXPECT_EQ(sysfs.busType("sdb"), kBusUsb);
  EXPECT_EQ(sysfs.busType("sdc"), 0);
  EXPECT_EQ(sysfs.busType("sdz"), 0);
  EXPECT_EQ(sysfs.busType(""), 0);
  EXPECT_EQ(sysfs.busType(".."), 0);
  EXPECT_EQ(sysfs.busType("../block/sda"), 0);
}

TEST(Sysfs, GenericNodeOfADisk) {
  FakeTree tree;
  tree.addDisk("sda", kSataDisk, "sg0");
  tree.addDisk("sdb", kUsbDisk, "sg12");
  tree.addDisk("sdc", kSasDisk);
  Sysfs sysfs(tree.sys());
  EXPECT_EQ(sysfs.genericName("sda"), "sg0");
  EXPECT_EQ(sysfs.genericName("sdb"), "sg12");
  EXPECT_EQ(sysfs.genericName("sdc"), std::nullopt);
  EXPECT_EQ(sysfs.genericName("sdz"), std::nullopt);
  EXPECT_EQ(sysfs.genericName("../.."), std::nullopt);
}

TEST(Sysfs, DiskNameFollowsSymlinks) {
  FakeTree tree;
  std::string node = tree.addNode("sdc");
  std::filesystem::create_directories(tree.dev() + "/disk/by-id");
  std::filesystem::create_symlink("../../sdc", tree.dev() + "/disk/by-id/ata-ORBENNE_PA256_0123");
  EXPECT_EQ(diskNameOf(tree.dev() + "/disk/by-id/ata-ORBENNE_PA256_0123"), "sdc");
  EXPECT_EQ(diskNameOf(node), "sdc");
  EXPECT_EQ(diskNameOf("/dev/sdq"), "sdq");  // need not exist
  EXPECT_EQ(diskNameOf(""), "");
  EXPECT_EQ(diskNameOf("/no-such-dir/"), "");
}

}  // namespace
}  // namespace zorv::platform

namespace zorv::platform {
namespace {

constexpr const char* kLoopbackDisk = "tcm_loop_0/tcm_loop_adapter_0/host5/target5:0:1/5:0:1:0";

void writeHostDriver(const test::FakeTree& tree, const std::string& host, const std::string& driver) {
  std::filesystem::path dir = std::filesystem::path(tree.sys()) / "class" / "scsi_host" / host;
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "proc_name") << driver << '\n';
}

TEST(Sysfs, HostDriverGivesTheBusOfADiskWhosePathNamesNone) {
  test::FakeTree tree;
  tree.addDisk("sda", kSataDisk);
  tree.addDisk("sdb", kLoopbackDisk);
  tree.addDisk("sdc", kSasDisk);
  writeHostDriver(tree, "host0", "ahci");
  writeHostDriver(tree, "host5", "tcm_loopback");
  writeHostDriver(tree, "host2", "mpt3sas");
  const std::vector<HostBusType> given = {{"tcm_loopback", kBusUsb}, {"ahci", kBusUsb}};
  Sysfs sysfs(tree.sys(), given);
  EXPECT_EQ(sysfs.busType("sdb"), kBusUsb);
  // The path decides where it names a bus; other hosts' disks keep none.
  EXPECT_EQ(sysfs.busType("sda"), kBusSata);
  EXPECT_EQ(sysfs.busType("sdc"), 0);
  EXPECT_EQ(Sysfs(tree.sys()).busType("sdb"), 0);
}

TEST(Sysfs, HostBusTypesFromText) {
  std::vector<HostBusType> out;
  std::string error;
  ASSERT_TRUE(parseHostBusTypes("tcm_loopback=usb,mpt3sas=sata,,x=ata", out, error));
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].hostDriver, "tcm_loopback");
  EXPECT_EQ(out[0].busType, kBusUsb);
  EXPECT_EQ(out[1].busType, kBusSata);
  EXPECT_EQ(out[2].busType, kBusAta);
  ASSERT_TRUE(parseHostBusTypes("", out, error));
  EXPECT_TRUE(out.empty());
  for (const char* bad : {"tcm_loopback", "tcm_loopback=scsi", "=usb", "../x=usb", "a=usb,b"}) {
    out = {{"kept", kBusUsb}};
    EXPECT_FALSE(parseHostBusTypes(bad, out, error)) << bad;
    EXPECT_NE(error.find('"'), std::string::npos) << bad;
    EXPECT_EQ(out.size(), 1u) << bad;  // nothing changed
  }
}

}  // namespace
}  // namespace zorv::platform

#include "platform/linux/udev_events.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

namespace zorv::platform {
namespace {

// The device ID every consumer derives from an interface name: drop the
// first four characters, cut at the last '#', '#' -> '\', upper case.
std::string deviceId(const std::string& interfaceName) {
  std::string id = interfaceName.substr(4);
  id = id.substr(0, id.rfind('#'));
  std::replace(id.begin(), id.end(), '#', '\\');
  std::transform(id.begin(), id.end(), id.begin(), [](unsigned char c) { return std::toupper(c); });
  return id;
}

TEST(InterfaceName, UsbDiskReadsLikeTheOtherBackends) {
  EXPECT_EQ(buildInterfaceName("usb", "ORBENNE", "PA256", "0123456789AB", "sdb"),
            "\\\\?\\USBSTOR#DISK&VEN_ORBENNE&PROD_PA256#0123456789AB#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
}

TEST(InterfaceName, AtaDiskIsScsiAndTheBrandIsInTheDeviceId) {
  std::string name = buildInterfaceName("ata", "ATA", "Orbenne_TA1T", "SN42", "sda");
  EXPECT_EQ(deviceId(name), "SCSI\\DISK&VEN_ATA&PROD_ORBENNE_TA1T\\SN42");
  EXPECT_EQ(deviceId(name).substr(0, deviceId(name).find('\\')), "SCSI");
}

TEST(InterfaceName, SeparatorsInsideValuesCannotSplitTheFields) {
  std::string name = buildInterfaceName("usb", "V#1", "M\\2", std::string("S\x01#3", 4), "sdc");
  EXPECT_EQ(deviceId(name), "USBSTOR\\DISK&VEN_V_1&PROD_M_2\\S__3");
}

TEST(InterfaceName, MissingSerialUsesTheKernelName) {
  EXPECT_EQ(deviceId(buildInterfaceName("", "", "", "", "sdd")), "SCSI\\DISK&VEN_&PROD_\\SDD");
}

TEST(UdevEvent, AddAndRemoveOfScsiDisksOnly) {
  auto added = deviceEventFromUdev("add", "sdb", "usb", "ORBENNE", "PA256", "01");
  ASSERT_TRUE(added);
  EXPECT_EQ(added->kind, DeviceEventKind::Arrival);
  EXPECT_NE(added->interfaceName.find("PROD_PA256"), std::string::npos);
  auto removed = deviceEventFromUdev("remove", "sdb", "usb", "ORBENNE", "PA256", "01");
  ASSERT_TRUE(removed);
  EXPECT_EQ(removed->kind, DeviceEventKind::Removal);
  EXPECT_EQ(removed->interfaceName, added->interfaceName);

  EXPECT_FALSE(deviceEventFromUdev("change", "sdb", "usb", "ORBENNE", "PA256", "01"));
  EXPECT_FALSE(deviceEventFromUdev("add", "loop0", "", "", "", ""));
  EXPECT_FALSE(deviceEventFromUdev("add", "nvme0n1", "", "", "", ""));
  EXPECT_FALSE(deviceEventFromUdev("add", "sd", "", "", "", ""));
  EXPECT_FALSE(deviceEventFromUdev("", "sda", "", "", "", ""));
}

}  // namespace
}  // namespace zorv::platform

namespace zorv::platform {
namespace {

TEST(KnownDisks, RemovalNamesWhatTheArrivalSaid) {
  KnownDisks known;
  known.remember({"sdb", "usb", "ATA", "ORBENNE TA512 SS"});
  known.remember({"sdc", "scsi", "LIO-ORG", "x"});
  known.remember({"sdb", "usb", "ATA", "ORBENNE PA256 SS"});  // the name came back with another drive
  const KnownDisks::Disk b = known.forget("sdb");
  EXPECT_EQ(b.model, "ORBENNE PA256 SS");
  EXPECT_EQ(b.bus, "usb");
  // Forgotten: a second removal knows only the name.
  const KnownDisks::Disk again = known.forget("sdb");
  EXPECT_EQ(again.name, "sdb");
  EXPECT_TRUE(again.model.empty());
  auto removed = deviceEventFromUdev("remove", b.name, b.bus, b.vendor, b.model, "");
  ASSERT_TRUE(removed);
  EXPECT_NE(removed->interfaceName.find("PROD_ORBENNE PA256 SS"), std::string::npos);
}

TEST(KnownDisks, TheOldestGoesWhenFull) {
  KnownDisks known;
  for (size_t i = 0; i <= KnownDisks::kCapacity; ++i)
    known.remember({"sd" + std::to_string(i), "ata", "ATA", "M" + std::to_string(i)});
  EXPECT_TRUE(known.forget("sd0").model.empty());
  EXPECT_EQ(known.forget("sd1").model, "M1");
  EXPECT_EQ(known.forget("sd" + std::to_string(KnownDisks::kCapacity)).model, "M" + std::to_string(KnownDisks::kCapacity));
}

TEST(UdevMonitor, KernelEventsWithoutAUdevDaemon) {
  EXPECT_STREQ(monitorSourceFor(true), "udev");
  EXPECT_STREQ(monitorSourceFor(false), "kernel");
}

}  // namespace
}  // namespace zorv::platform

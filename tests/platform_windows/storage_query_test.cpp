#include "platform/windows/storage_query.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/windows/disk_extents.h"
#include "transport/drive_table.h"

namespace zorv::platform {
namespace {

TEST(StorageQuery, TheStandardDevicePropertyQuery) {
  EXPECT_EQ(IOCTL_STORAGE_QUERY_PROPERTY, 0x002D1400u);
  EXPECT_EQ(IOCTL_STORAGE_GET_DEVICE_NUMBER, 0x002D1080u);
  EXPECT_EQ(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, 0x00560000u);
  STORAGE_PROPERTY_QUERY q = deviceDescriptorQuery();
  std::vector<uint8_t> b(sizeof q);
  std::memcpy(b.data(), &q, sizeof q);
  EXPECT_EQ(b.size(), 12u);
  EXPECT_EQ(b, std::vector<uint8_t>(12, 0));  // StorageDeviceProperty, PropertyStandardQuery, no extra bytes
}

TEST(StorageQuery, BusTypesTheToolNames) {
  struct Case {
    STORAGE_BUS_TYPE system;
    uint8_t tool;
  };
  const Case cases[] = {
      {BusTypeUnknown, 0},         {BusTypeScsi, kBusScsi}, {BusTypeAtapi, kBusAtapi}, {BusTypeAta, kBusAta},
      {BusType1394, 0},            {BusTypeSsa, 0},         {BusTypeFibre, 0},         {BusTypeUsb, kBusUsb},
      {BusTypeRAID, kBusRaid},     {BusTypeiScsi, 0},       {BusTypeSas, 0},           {BusTypeSata, kBusSata},
      {BusTypeSd, 0},              {BusTypeMmc, 0},         {BusTypeVirtual, 0},       {BusTypeFileBackedVirtual, 0},
      {BusTypeSpaces, 0},          {BusTypeNvme, 0},        {BusTypeMaxReserved, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(busTypeFromStorageBus(c.system), c.tool) << int(c.system);
  // The tool's numbering is the system's where both name a bus.
  EXPECT_EQ(kBusAta, BusTypeAta);
  EXPECT_EQ(kBusUsb, BusTypeUsb);
  EXPECT_EQ(kBusSata, BusTypeSata);
}

TEST(StorageQuery, BusTypeFromTheDescriptorBytes) {
  EXPECT_EQ(sizeof(STORAGE_DEVICE_DESCRIPTOR), 40u);
  EXPECT_EQ(offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType), 28u);
  std::vector<uint8_t> reply(40, 0);
  reply[0] = 1;   // Version
  reply[4] = 40;  // Size
  reply[28] = 0x0B;
  EXPECT_EQ(busTypeFromDescriptor(reply.data(), reply.size()), std::optional<uint8_t>(kBusSata));
  reply[28] = 0x07;
  EXPECT_EQ(busTypeFromDescriptor(reply.data(), 32), std::optional<uint8_t>(kBusUsb));
  // A reply cut before the bus type says nothing about it.
  EXPECT_EQ(busTypeFromDescriptor(reply.data(), 31), std::nullopt);
  EXPECT_EQ(busTypeFromDescriptor(reply.data(), 8), std::nullopt);
  EXPECT_EQ(busTypeFromDescriptor(nullptr, 40), std::nullopt);
}

TEST(StorageQuery, DiskNumber) {
  STORAGE_DEVICE_NUMBER n{};
  n.DeviceType = FILE_DEVICE_DISK;
  n.DeviceNumber = 3;
  n.PartitionNumber = 0;
  EXPECT_EQ(diskNumberFromReply(&n, sizeof n), std::optional<DWORD>(3));
  EXPECT_EQ(diskNumberFromReply(&n, sizeof n - 1), std::nullopt);
  n.DeviceType = FILE_DEVICE_CD_ROM;
  EXPECT_EQ(diskNumberFromReply(&n, sizeof n), std::nullopt);
}

// A reply as the system lays it out: the count, padding, then the extents.
std::vector<uint8_t> extentsReply(DWORD stated, const std::vector<DWORD>& disks) {
  std::vector<uint8_t> b(offsetof(VOLUME_DISK_EXTENTS, Extents) + disks.size() * sizeof(DISK_EXTENT), 0);
  std::memcpy(b.data(), &stated, sizeof stated);
  for (size_t i = 0; i < disks.size(); ++i) {
    DISK_EXTENT e{};
    e.DiskNumber = disks[i];
    e.StartingOffset.QuadPart = 1048576 * static_cast<LONGLONG>(i + 1);
    e.ExtentLength.QuadPart = 0x7FFFFFFF00LL;
    std::memcpy(b.data() + offsetof(VOLUME_DISK_EXTENTS, Extents) + i * sizeof(DISK_EXTENT), &e, sizeof e);
  }
  return b;
}

std::vector<DWORD> disksOf(const std::vector<VolumeExtent>& extents) {
  std::vector<DWORD> out;
  for (const VolumeExtent& e : extents) out.push_back(e.diskNumber);
  return out;
}

TEST(DiskExtents, TheLayoutTheSystemReturns) {
  // The first 32 bytes hold the count and the first extent.
  EXPECT_EQ(offsetof(VOLUME_DISK_EXTENTS, Extents), 8u);
  EXPECT_EQ(sizeof(DISK_EXTENT), 24u);
  const std::vector<uint8_t> b = extentsReply(1, {2});
  ASSERT_EQ(b.size(), 32u);
  const std::vector<VolumeExtent> e = parseDiskExtents(b.data(), b.size());
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].diskNumber, 2u);
  EXPECT_EQ(e[0].startingOffset, 1048576);
  EXPECT_EQ(e[0].length, 0x7FFFFFFF00LL);
  const std::vector<uint8_t> spanned = extentsReply(2, {0, 1});
  EXPECT_EQ(disksOf(parseDiskExtents(spanned.data(), spanned.size())), (std::vector<DWORD>{0, 1}));
}

TEST(DiskExtents, TheCountIsBelievedOnlyAsFarAsTheBytesGo) {
  struct Case {
    const char* what;
    DWORD stated;
    std::vector<DWORD> held;
    size_t cut;  // bytes taken off the end
    std::vector<DWORD> expected;
  };
  const Case cases[] = {
      {"count larger than the extents returned", 5, {4}, 0, {4}},
      {"count of 0xFFFFFFFF", 0xFFFFFFFF, {1, 2}, 0, {1, 2}},
      {"last extent cut short", 2, {1, 2}, 1, {1}},
      {"count smaller than the extents returned", 1, {6, 7}, 0, {6}},
      {"no extents", 0, {}, 0, {}},
      {"more than are ever read", 20, std::vector<DWORD>(20, 9), 0, std::vector<DWORD>(kMaxVolumeExtents, 9)},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> b = extentsReply(c.stated, c.held);
    EXPECT_EQ(disksOf(parseDiskExtents(b.data(), b.size() - c.cut)), c.expected) << c.what;
  }
  const std::vector<uint8_t> b = extentsReply(1, {1});
  EXPECT_TRUE(parseDiskExtents(b.data(), 7).empty());
  EXPECT_TRUE(parseDiskExtents(b.data(), 0).empty());
  EXPECT_TRUE(parseDiskExtents(nullptr, 32).empty());
}

}  // namespace
}  // namespace zorv::platform

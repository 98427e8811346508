#include "platform/windows/device_notifications.h"

#include <gtest/gtest.h>

#include <dbt.h>

#include <cstring>
#include <vector>

namespace zorv::platform {
namespace {

const std::wstring kUsbDisk =
    L"\\\\?\\USBSTOR#Disk&Ven_ORBENNE&Prod_PA256#0123456789AB&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

// A DEV_BROADCAST_DEVICEINTERFACE_W as the system sends it: dbch_size
// covers the header and the name with its NUL.
std::vector<uint8_t> broadcast(const std::wstring& name, DWORD type = DBT_DEVTYP_DEVICEINTERFACE) {
  const size_t at = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  std::vector<uint8_t> b(at + (name.size() + 1) * sizeof(wchar_t), 0);
  const DWORD size = static_cast<DWORD>(b.size());
  std::memcpy(b.data(), &size, sizeof size);
  std::memcpy(b.data() + 4, &type, sizeof type);
  std::memcpy(b.data() + at, name.data(), name.size() * sizeof(wchar_t));
  return b;
}

TEST(DeviceBroadcast, ArrivalAndRemovalOfADiskInterface) {
  const std::vector<uint8_t> b = broadcast(kUsbDisk);
  std::optional<DeviceEvent> arrival = deviceEventFromBroadcast(DBT_DEVICEARRIVAL, b.data(), b.size());
  ASSERT_TRUE(arrival);
  EXPECT_EQ(arrival->kind, DeviceEventKind::Arrival);
  EXPECT_EQ(arrival->interfaceName,
            "\\\\?\\USBSTOR#Disk&Ven_ORBENNE&Prod_PA256#0123456789AB&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
  std::optional<DeviceEvent> removal = deviceEventFromBroadcast(DBT_DEVICEREMOVECOMPLETE, b.data(), b.size());
  ASSERT_TRUE(removal);
  EXPECT_EQ(removal->kind, DeviceEventKind::Removal);
  EXPECT_EQ(removal->interfaceName, arrival->interfaceName);
}

TEST(DeviceBroadcast, OtherEventsAndOtherBroadcastsAreNotDriveChanges) {
  const std::vector<uint8_t> b = broadcast(kUsbDisk);
  for (WPARAM event : {WPARAM{DBT_DEVICEQUERYREMOVE}, WPARAM{DBT_DEVICEREMOVEPENDING}, WPARAM{DBT_DEVNODES_CHANGED},
                       WPARAM{DBT_CUSTOMEVENT}})
    EXPECT_FALSE(deviceEventFromBroadcast(event, b.data(), b.size())) << event;
  const std::vector<uint8_t> volume = broadcast(L"E", DBT_DEVTYP_VOLUME);
  EXPECT_FALSE(deviceEventFromBroadcast(DBT_DEVICEARRIVAL, volume.data(), volume.size()));
  EXPECT_FALSE(deviceEventFromBroadcast(DBT_DEVICEARRIVAL, nullptr, 0));
}

TEST(DeviceBroadcast, TheNameIsReadWithinTheBroadcast) {
  const size_t at = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  // No NUL: the name ends where the broadcast does.
  std::vector<uint8_t> b = broadcast(L"\\\\?\\SCSI#Disk");
  b.resize(b.size() - sizeof(wchar_t));
  const DWORD cut = static_cast<DWORD>(b.size());
  std::memcpy(b.data(), &cut, sizeof cut);
  std::optional<DeviceEvent> e = deviceEventFromBroadcast(DBT_DEVICEARRIVAL, b.data(), b.size());
  ASSERT_TRUE(e);
  EXPECT_EQ(e->interfaceName, "\\\\?\\SCSI#Disk");
  // A size larger than what is there is not believed.
  const DWORD huge = 0x7FFFFFFF;
  std::memcpy(b.data(), &huge, sizeof huge);
  e = deviceEventFromBroadcast(DBT_DEVICEARRIVAL, b.data(), b.size());
  ASSERT_TRUE(e);
  EXPECT_EQ(e->interfaceName, "\\\\?\\SCSI#Disk");
  // A size that leaves no name, or an empty name.
  const DWORD header = static_cast<DWORD>(at);
  std::memcpy(b.data(), &header, sizeof header);
  EXPECT_FALSE(deviceEventFromBroadcast(DBT_DEVICEARRIVAL, b.data(), b.size()));
  const std::vector<uint8_t> empty = broadcast(L"");
  EXPECT_FALSE(deviceEventFromBroadcast(DBT_DEVICEARRIVAL, empty.data(), empty.size()));
  EXPECT_FALSE(deviceEventFromBroadcast(DBT_DEVICEARRIVAL, b.data(), 3));
}

}  // namespace
}  // namespace zorv::platform

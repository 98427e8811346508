#pragma once
// What the storage stack says about a disk: its bus type (the standard
// device property) and its device number. The replies are read within the
// bytes the system returned, never past them.

#include <windows.h>
#include <winioctl.h>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace zorv::platform {

// The query for the standard device property: StorageDeviceProperty,
// PropertyStandardQuery.
STORAGE_PROPERTY_QUERY deviceDescriptorQuery();

// STORAGE_BUS_TYPE to the bus types the tool names (kBusScsi, kBusAtapi,
// kBusAta, kBusUsb, kBusRaid, kBusSata); 0 for any other.
uint8_t busTypeFromStorageBus(STORAGE_BUS_TYPE bus);

// The bus type from a STORAGE_DEVICE_DESCRIPTOR reply of `returned` bytes;
// nullopt when the reply is too short to hold it.
std::optional<uint8_t> busTypeFromDescriptor(const void* reply, size_t returned);

// The disk number from a STORAGE_DEVICE_NUMBER reply; nullopt when the reply
// is too short or the device is no disk.
std::optional<DWORD> diskNumberFromReply(const void* reply, size_t returned);

}  // namespace zorv::platform

#include "platform/windows/storage_query.h"

#include <cstring>

#include "transport/drive_table.h"

namespace zorv::platform {

STORAGE_PROPERTY_QUERY deviceDescriptorQuery() {
  STORAGE_PROPERTY_QUERY query;
  std::memset(&query, 0, sizeof query);
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  return query;
}

uint8_t busTypeFromStorageBus(STORAGE_BUS_TYPE bus) {
  switch (bus) {
    case BusTypeScsi: return kBusScsi;
    case BusTypeAtapi: return kBusAtapi;
    case BusTypeAta: return kBusAta;
    case BusTypeUsb: return kBusUsb;
    case BusTypeRAID: return kBusRaid;
    case BusTypeSata: return kBusSata;
    default: return 0;
  }
}

std::optional<uint8_t> busTypeFromDescriptor(const void* reply, size_t returned) {
  constexpr size_t needed = offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof(STORAGE_BUS_TYPE);
  if (!reply || returned < needed) return std::nullopt;
  STORAGE_DEVICE_DESCRIPTOR descriptor;
  std::memset(&descriptor, 0, sizeof descriptor);
  std::memcpy(&descriptor, reply, needed);
  return busTypeFromStorageBus(descriptor.BusType);
}

std::optional<DWORD> diskNumberFromReply(const void* reply, size_t returned) {
  if (!reply || returned < sizeof(STORAGE_DEVICE_NUMBER)) return std::nullopt;
  STORAGE_DEVICE_NUMBER number;
  std::memcpy(&number, reply, sizeof number);
  if (number.DeviceType != FILE_DEVICE_DISK) return std::nullopt;
  return number.DeviceNumber;
}

}  // namespace zorv::platform

#pragma once
// Device arrival and removal as a backend reports them. Every backend names
// the device with an interface name in one form, so that the same filter
// (enumerator, brand words in the device ID) works for real and simulated
// drives:
//   "\\?\USBSTOR#DISK&VEN_ORBENNE&PROD_PA256#0123456789AB#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"
// Dropping the first four characters, cutting at the last '#', replacing '#'
// by '\' and upper-casing gives the device ID "USBSTOR\DISK&VEN_...\SERIAL",
// whose enumerator is "USBSTOR".

#include <string>
#include <vector>

namespace zorv {

enum class DeviceEventKind { Arrival, Removal };

struct DeviceEvent {
  DeviceEventKind kind = DeviceEventKind::Arrival;
  std::string interfaceName;
};

class DeviceEventSource {
 public:
  virtual ~DeviceEventSource() = default;
  // Appends the events that have happened since the last call; waits at most
  // timeoutMs (0: do not wait). Returns false when the source is broken.
  virtual bool poll(std::vector<DeviceEvent>& out, int timeoutMs) = 0;
};

}  // namespace zorv

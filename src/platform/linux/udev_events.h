#pragma once
// Disk arrival and removal from a libudev monitor (subsystem "block",
// devtype "disk"), named the way every backend names devices (see
// transport/device_events.h) so that the brand filter reads the model in it.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transport/device_events.h"

struct udev;
struct udev_monitor;

namespace zorv::platform {

// "\\?\" + ("USBSTOR" when bus is "usb", else "SCSI") +
// "#DISK&VEN_<vendor>&PROD_<model>#<serial>#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}".
// '#', '\' and control characters inside the values become '_' so that the
// fields cannot be split wrongly; an empty serial is replaced by `fallbackSerial`.
std::string buildInterfaceName(std::string_view bus, std::string_view vendor, std::string_view model,
                               std::string_view serial, std::string_view fallbackSerial);

// One udev event as a DeviceEvent: "add" -> Arrival, "remove" -> Removal,
// for whole disks that can be physical drives here (kernel name "sd...");
// anything else -> nullopt.
std::optional<DeviceEvent> deviceEventFromUdev(std::string_view action, std::string_view sysname,
                                               std::string_view bus, std::string_view vendor,
                                               std::string_view model, std::string_view serial);

class UdevEventSource : public DeviceEventSource {
 public:
  // nullptr with `error` set when no monitor can be opened.
  static std::unique_ptr<UdevEventSource> open(std::string& error);
  ~UdevEventSource() override;

  bool poll(std::vector<DeviceEvent>& out, int timeoutMs) override;

 private:
  UdevEventSource(struct udev* u, struct udev_monitor* m) : udev_(u), monitor_(m) {}
  struct udev* udev_;
  struct udev_monitor* monitor_;
};

}  // namespace zorv::platform

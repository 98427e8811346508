#pragma once
// Disk arrival and removal from a libudev monitor (subsystem "block",
// devtype "disk"), named the way every backend names devices (see
// transport/device_events.h) so that the brand filter reads the model in it.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
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

// What the arrival of a disk said about it, kept for its removal: without
// a udev daemon the monitor hears the kernel's own events, which carry no
// vendor or model, and at removal sysfs no longer has them. Bounded: the
// oldest entry goes when it is full.
class KnownDisks {
 public:
  struct Disk {
    std::string name;
    std::string bus;
    std::string vendor;
    std::string model;
  };
  static constexpr size_t kCapacity = 32;
  void remember(Disk disk);
  // The entry of `name` (removed from the list), or an entry with only the name.
  Disk forget(const std::string& name);

 private:
  std::vector<Disk> disks_;
};

// The monitor to use: "udev" when a udev daemon runs (its control socket
// exists), else "kernel".
const char* monitorSourceFor(bool udevRunning);

// Called with the kernel name ("sdb") of every physical-drive disk that is
// removed, before its Removal event is handed out.
using RemovalHook = std::function<void(const std::string& name)>;

class UdevEventSource : public DeviceEventSource {
 public:
  // nullptr with `error` set when no monitor can be opened. Listens to
  // udev's events when udev runs, else to the kernel's (sysfs then gives
  // the vendor and model of an arriving disk).
  static std::unique_ptr<UdevEventSource> open(std::string& error, RemovalHook onRemoval = {});
  ~UdevEventSource() override;

  bool poll(std::vector<DeviceEvent>& out, int timeoutMs) override;

 private:
  UdevEventSource(struct udev* u, struct udev_monitor* m, RemovalHook onRemoval, bool kernelEvents)
      : udev_(u), monitor_(m), onRemoval_(std::move(onRemoval)), kernelEvents_(kernelEvents) {}
  void rememberPresentDisks();
  struct udev* udev_;
  struct udev_monitor* monitor_;
  RemovalHook onRemoval_;
  bool kernelEvents_;
  KnownDisks known_;
};

}  // namespace zorv::platform

#include "platform/linux/udev_events.h"

#include <libudev.h>
#include <poll.h>

#include <cerrno>
#include <cstring>

namespace zorv::platform {

namespace {

constexpr std::string_view kDiskInterfaceClass = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
// Bounds the work of one poll() when events arrive in a storm.
constexpr int kMaxEventsPerPoll = 64;

void appendClean(std::string& out, std::string_view value) {
  for (char c : value) {
    const auto u = static_cast<unsigned char>(c);
    out += (c == '#' || c == '\\' || u < 0x20 || u == 0x7F) ? '_' : c;
  }
}

std::string_view prop(struct udev_device* d, const char* key) {
  const char* v = udev_device_get_property_value(d, key);
  return v ? std::string_view(v) : std::string_view();
}

}  // namespace

std::string buildInterfaceName(std::string_view bus, std::string_view vendor, std::string_view model,
                               std::string_view serial, std::string_view fallbackSerial) {
  std::string name = "\\\\?\\";
  name += bus == "usb" ? "USBSTOR" : "SCSI";
  name += "#DISK&VEN_";
  appendClean(name, vendor);
  name += "&PROD_";
  appendClean(name, model);
  name += '#';
  appendClean(name, serial.empty() ? fallbackSerial : serial);
  name += '#';
  name += kDiskInterfaceClass;
  return name;
}

std::optional<DeviceEvent> deviceEventFromUdev(std::string_view action, std::string_view sysname,
                                               std::string_view bus, std::string_view vendor,
                                               std::string_view model, std::string_view serial) {
  // Physical drives are /dev/sda.. here; loop, zram, dm and other disks
  // never are.
  if (sysname.size() < 3 || sysname.substr(0, 2) != "sd") return std::nullopt;
  DeviceEvent event;
  if (action == "add")
    event.kind = DeviceEventKind::Arrival;
  else if (action == "remove")
    event.kind = DeviceEventKind::Removal;
  else
    return std::nullopt;
  event.interfaceName = buildInterfaceName(bus, vendor, model, serial, sysname);
  return event;
}

std::unique_ptr<UdevEventSource> UdevEventSource::open(std::string& error, RemovalHook onRemoval) {
  struct udev* u = udev_new();
  if (!u) {
    error = "udev_new failed";
    return nullptr;
  }
  struct udev_monitor* m = udev_monitor_new_from_netlink(u, "udev");
  if (!m) {
    error = "cannot open the udev monitor";
    udev_unref(u);
    return nullptr;
  }
  if (udev_monitor_filter_add_match_subsystem_devtype(m, "block", "disk") < 0 ||
      udev_monitor_enable_receiving(m) < 0) {
    error = "cannot start the udev monitor";
    udev_monitor_unref(m);
    udev_unref(u);
    return nullptr;
  }
  return std::unique_ptr<UdevEventSource>(new UdevEventSource(u, m, std::move(onRemoval)));
}

UdevEventSource::~UdevEventSource() {
  udev_monitor_unref(monitor_);
  udev_unref(udev_);
}

bool UdevEventSource::poll(std::vector<DeviceEvent>& out, int timeoutMs) {
  const int fd = udev_monitor_get_fd(monitor_);
  if (fd < 0) return false;
  pollfd p{fd, POLLIN, 0};
  const int ready = ::poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
  if (ready < 0) return errno == EINTR;
  if (ready == 0) return true;
  if (p.revents & (POLLERR | POLLNVAL)) return false;
  // The monitor socket is non-blocking: receive returns null once drained.
  for (int i = 0; i < kMaxEventsPerPoll; ++i) {
    struct udev_device* d = udev_monitor_receive_device(monitor_);
    if (!d) break;
    const char* action = udev_device_get_action(d);
    const char* sysname = udev_device_get_sysname(d);
    std::optional<DeviceEvent> event =
        deviceEventFromUdev(action ? action : "", sysname ? sysname : "", prop(d, "ID_BUS"), prop(d, "ID_VENDOR"),
                            prop(d, "ID_MODEL"), prop(d, "ID_SERIAL_SHORT"));
    if (event && event->kind == DeviceEventKind::Removal && onRemoval_) onRemoval_(sysname);
    if (event) out.push_back(std::move(*event));
    udev_device_unref(d);
  }
  return true;
}

}  // namespace zorv::platform

#include "platform/linux/udev_events.h"

#include <libudev.h>
#include <poll.h>
#include <unistd.h>

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

std::string trimmed(const char* v) {
  std::string_view t = v ? std::string_view(v) : std::string_view();
  while (!t.empty() && (t.back() == ' ' || t.back() == '\n')) t.remove_suffix(1);
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  return std::string(t);
}

// What udev's rules would have said of a disk, from sysfs: the SCSI device's
// vendor and model, and the bus from the device path.
KnownDisks::Disk describeFromSysfs(struct udev_device* d) {
  KnownDisks::Disk disk;
  const char* name = udev_device_get_sysname(d);
  disk.name = name ? name : "";
  const char* path = udev_device_get_devpath(d);
  const std::string_view devpath = path ? path : "";
  if (devpath.find("/usb") != std::string_view::npos)
    disk.bus = "usb";
  else if (devpath.find("/ata") != std::string_view::npos)
    disk.bus = "ata";
  else
    disk.bus = "scsi";
  struct udev_device* scsi = udev_device_get_parent_with_subsystem_devtype(d, "scsi", "scsi_device");
  if (scsi) {
    disk.vendor = trimmed(udev_device_get_sysattr_value(scsi, "vendor"));
    disk.model = trimmed(udev_device_get_sysattr_value(scsi, "model"));
  }
  return disk;
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

void KnownDisks::remember(Disk disk) {
  (void)forget(disk.name);
  if (disks_.size() >= kCapacity) disks_.erase(disks_.begin());
  disks_.push_back(std::move(disk));
}

KnownDisks::Disk KnownDisks::forget(const std::string& name) {
  for (auto it = disks_.begin(); it != disks_.end(); ++it) {
    if (it->name != name) continue;
    Disk d = std::move(*it);
    disks_.erase(it);
    return d;
  }
  return Disk{name, "", "", ""};
}

const char* monitorSourceFor(bool udevRunning) { return udevRunning ? "udev" : "kernel"; }

std::unique_ptr<UdevEventSource> UdevEventSource::open(std::string& error, RemovalHook onRemoval) {
  struct udev* u = udev_new();
  if (!u) {
    error = "udev_new failed";
    return nullptr;
  }
  // Without a udev daemon (a minimal system, a container) nothing is ever
  // sent on udev's channel; the kernel's own events still arrive.
  const bool kernelEvents = std::string_view(monitorSourceFor(::access("/run/udev/control", F_OK) == 0)) == "kernel";
  struct udev_monitor* m = udev_monitor_new_from_netlink(u, kernelEvents ? "kernel" : "udev");
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
  std::unique_ptr<UdevEventSource> source(new UdevEventSource(u, m, std::move(onRemoval), kernelEvents));
  if (kernelEvents) source->rememberPresentDisks();
  return source;
}

// The disks present when watching starts, so that their removal names them.
void UdevEventSource::rememberPresentDisks() {
  struct udev_enumerate* e = udev_enumerate_new(udev_);
  if (!e) return;
  if (udev_enumerate_add_match_subsystem(e, "block") >= 0 && udev_enumerate_add_match_property(e, "DEVTYPE", "disk") >= 0 &&
      udev_enumerate_scan_devices(e) >= 0) {
    struct udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
      struct udev_device* d = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
      if (!d) continue;
      known_.remember(describeFromSysfs(d));
      udev_device_unref(d);
    }
  }
  udev_enumerate_unref(e);
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
    std::optional<DeviceEvent> event;
    if (kernelEvents_) {
      const std::string_view a = action ? action : "";
      const KnownDisks::Disk disk =
          a == "add" ? describeFromSysfs(d) : known_.forget(sysname ? sysname : "");
      if (a == "add") known_.remember(disk);
      event = deviceEventFromUdev(a, disk.name, disk.bus, disk.vendor, disk.model, "");
    } else {
      event = deviceEventFromUdev(action ? action : "", sysname ? sysname : "", prop(d, "ID_BUS"),
                                  prop(d, "ID_VENDOR"), prop(d, "ID_MODEL"), prop(d, "ID_SERIAL_SHORT"));
    }
    if (event && event->kind == DeviceEventKind::Removal && onRemoval_) onRemoval_(sysname);
    if (event) out.push_back(std::move(*event));
    udev_device_unref(d);
  }
  return true;
}

}  // namespace zorv::platform

#pragma once
// Disk arrival and removal from the system's device-interface
// notifications: a hidden message-only window on a thread of its own,
// registered for the disk interface class, turns each WM_DEVICECHANGE into
// a DeviceEvent named by the interface name the system gives
// ("\\?\USBSTOR#Disk&Ven_...#...#{53f56307-...}", see
// transport/device_events.h).

#include <windows.h>

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "transport/device_events.h"

namespace zorv::platform {

// A broadcast larger than this is read only this far (an interface name is
// far shorter).
constexpr size_t kMaxBroadcastBytes = 4096;

// One WM_DEVICECHANGE: DBT_DEVICEARRIVAL -> Arrival, DBT_DEVICEREMOVECOMPLETE
// -> Removal, for a device-interface broadcast with a name; anything else ->
// nullopt. The broadcast is read within its own dbch_size, `available` and
// kMaxBroadcastBytes, whichever is least; the name ends at its NUL or there.
std::optional<DeviceEvent> deviceEventFromBroadcast(WPARAM event, const void* broadcast, size_t available);

class DeviceNotificationSource final : public DeviceEventSource {
 public:
  // nullptr with `error` set when the window or the registration fails.
  static std::unique_ptr<DeviceNotificationSource> open(std::string& error);
  ~DeviceNotificationSource() override;
  DeviceNotificationSource(const DeviceNotificationSource&) = delete;
  DeviceNotificationSource& operator=(const DeviceNotificationSource&) = delete;

  bool poll(std::vector<DeviceEvent>& out, int timeoutMs) override;

  // Events kept while nobody polls; the oldest go first.
  static constexpr size_t kMaxPending = 256;

 private:
  DeviceNotificationSource();
  void run(std::string& error, HANDLE started);
  void deliver(DeviceEvent event);
  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  std::thread thread_;
  HWND window_ = nullptr;
  HDEVNOTIFY registration_ = nullptr;
  HANDLE pendingSignal_ = nullptr;  // manual-reset: set while events wait
  std::mutex mutex_;
  std::deque<DeviceEvent> pending_;
  bool ended_ = false;
};

}  // namespace zorv::platform

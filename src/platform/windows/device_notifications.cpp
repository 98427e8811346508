#include "platform/windows/device_notifications.h"

#include <initguid.h>
#include <windows.h>
#include <dbt.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>

#include "transport/windows_text.h"
#include "platform/windows/windows_error.h"

namespace zorv::platform {

namespace {

constexpr wchar_t kWindowClass[] = L"ZorvDeviceNotifications";

}  // namespace

std::optional<DeviceEvent> deviceEventFromBroadcast(WPARAM event, const void* broadcast, size_t available) {
  DeviceEvent out;
  if (event == DBT_DEVICEARRIVAL)
    out.kind = DeviceEventKind::Arrival;
  else if (event == DBT_DEVICEREMOVECOMPLETE)
    out.kind = DeviceEventKind::Removal;
  else
    return std::nullopt;
  if (!broadcast || available < sizeof(DEV_BROADCAST_HDR)) return std::nullopt;
  DEV_BROADCAST_HDR header;
  std::memcpy(&header, broadcast, sizeof header);
  if (header.dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return std::nullopt;
  const size_t size = std::min({static_cast<size_t>(header.dbch_size), available, kMaxBroadcastBytes});
  constexpr size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  if (size <= nameOffset) return std::nullopt;
  // Copied out, so that the name is read as aligned characters whatever the
  // sender's buffer.
  std::wstring name((size - nameOffset) / sizeof(wchar_t), L'\0');
  std::memcpy(name.data(), static_cast<const unsigned char*>(broadcast) + nameOffset, name.size() * sizeof(wchar_t));
  out.interfaceName = utf8Text(name.data(), name.size());
  if (out.interfaceName.empty()) return std::nullopt;
  return out;
}

DeviceNotificationSource::DeviceNotificationSource() {
  pendingSignal_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

std::unique_ptr<DeviceNotificationSource> DeviceNotificationSource::open(std::string& error) {
  std::unique_ptr<DeviceNotificationSource> source(new DeviceNotificationSource());
  if (!source->pendingSignal_) {
    error = "device notifications: " + windowsErrorText(GetLastError());
    return nullptr;
  }
  HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!started) {
    error = "device notifications: " + windowsErrorText(GetLastError());
    return nullptr;
  }
  std::string threadError;
  DeviceNotificationSource* self = source.get();
  source->thread_ = std::thread([self, &threadError, started] { self->run(threadError, started); });
  WaitForSingleObject(started, INFINITE);
  CloseHandle(started);
  if (!threadError.empty()) {
    source->thread_.join();
    error = "device notifications: " + threadError;
    return nullptr;
  }
  return source;
}

DeviceNotificationSource::~DeviceNotificationSource() {
  if (thread_.joinable()) {
    if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
    thread_.join();
  }
  if (pendingSignal_) CloseHandle(pendingSignal_);
}

// The window's thread: the window and the registration are made here, as
// the messages for a window go to the thread that made it.
void DeviceNotificationSource::run(std::string& error, HANDLE started) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass;
  std::memset(&windowClass, 0, sizeof windowClass);
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &DeviceNotificationSource::windowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    error = "RegisterClassEx: " + windowsErrorText(GetLastError());
    SetEvent(started);
    return;
  }
  HWND window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this);
  if (!window) {
    error = "CreateWindowEx: " + windowsErrorText(GetLastError());
    SetEvent(started);
    return;
  }
  DEV_BROADCAST_DEVICEINTERFACE_W filter;
  std::memset(&filter, 0, sizeof filter);
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = GUID_DEVINTERFACE_DISK;
  registration_ = RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  if (!registration_) {
    error = "RegisterDeviceNotification: " + windowsErrorText(GetLastError());
    DestroyWindow(window);
    SetEvent(started);
    return;
  }
  window_ = window;
  SetEvent(started);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  std::lock_guard lock(mutex_);
  ended_ = true;
  SetEvent(pendingSignal_);
}

LRESULT CALLBACK DeviceNotificationSource::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<DeviceNotificationSource*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_DEVICECHANGE:
      if (self && lParam) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        if (std::optional<DeviceEvent> event = deviceEventFromBroadcast(wParam, header, header->dbch_size))
          self->deliver(std::move(*event));
      }
      return TRUE;
    case WM_DESTROY:
      if (self && self->registration_) {
        UnregisterDeviceNotification(self->registration_);
        self->registration_ = nullptr;
      }
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

void DeviceNotificationSource::deliver(DeviceEvent event) {
  std::lock_guard lock(mutex_);
  if (pending_.size() >= kMaxPending) pending_.pop_front();
  pending_.push_back(std::move(event));
  SetEvent(pendingSignal_);
}

bool DeviceNotificationSource::poll(std::vector<DeviceEvent>& out, int timeoutMs) {
  if (timeoutMs > 0) WaitForSingleObject(pendingSignal_, static_cast<DWORD>(timeoutMs));
  std::lock_guard lock(mutex_);
  for (DeviceEvent& e : pending_) out.push_back(std::move(e));
  pending_.clear();
  if (!ended_) ResetEvent(pendingSignal_);
  return !ended_;
}

}  // namespace zorv::platform

#pragma once
// A device port in front of another one: passes every request on, notes which
// drive each went to, and can hold the operation's worker at one chosen ATA
// command until the test lets it go, so that the test acts in the middle of
// an operation (changes the selection, plugs a drive, presses Exit).

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "transport/device_events.h"
#include "transport/device_port.h"

namespace zorv::test {

class GatedPort : public DevicePort {
 public:
  explicit GatedPort(DevicePort& inner) : inner_(inner) {}
  ~GatedPort() override { open(); }

  // The n-th ATA command `command` (counting from 1) on the ATA path waits.
  void holdAt(uint8_t command, int n) {
    std::lock_guard lock(mutex_);
    command_ = command;
    left_ = n;
  }
  bool held() const {
    std::lock_guard lock(mutex_);
    return held_;
  }
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    cv_.notify_all();
  }
  // The drives of the requests since the gate was reached, the held one first.
  std::vector<std::string> pathsSinceGate() const {
    std::lock_guard lock(mutex_);
    return since_;
  }

  std::string_view name() const override { return inner_.name(); }
  std::string physicalDrivePath(int n) const override { return inner_.physicalDrivePath(n); }
  IoOutcome queryBusType(const std::string& path, uint8_t& busType) override {
    return inner_.queryBusType(path, busType);
  }
  IoOutcome ataPassThrough(const std::string& path, AtaPassThroughRequest& request) override {
    pass(path, request.currentTaskFile[6]);
    return inner_.ataPassThrough(path, request);
  }
  IoOutcome scsiPassThrough(const std::string& path, ScsiRequest& request) override {
    pass(path, -1);
    return inner_.scsiPassThrough(path, request);
  }
  IoOutcome submitQueued(const std::string& path, int slot, ScsiRequest& request) override {
    pass(path, -1);
    return inner_.submitQueued(path, slot, request);
  }
  SlotState pollSlot(int slot) override { return inner_.pollSlot(slot); }
  void drainQueue() override { inner_.drainQueue(); }
  void waitQueued(std::chrono::milliseconds timeout) override { inner_.waitQueued(timeout); }
  void abandonQueue() override { inner_.abandonQueue(); }
  IoOutcome probeExclusive(const std::string& path) override { return inner_.probeExclusive(path); }
  bool carriesAtaDataByte() const override { return inner_.carriesAtaDataByte(); }
  std::unique_ptr<DeviceEventSource> watchDevices() override { return inner_.watchDevices(); }

 private:
  void pass(const std::string& path, int command) {
    std::unique_lock lock(mutex_);
    if (reached_) {
      since_.push_back(path);
      return;
    }
    if (command < 0 || command != command_ || --left_ > 0) return;
    reached_ = true;
    since_.push_back(path);
    held_ = true;
    cv_.wait(lock, [this] { return open_; });
    held_ = false;
  }

  DevicePort& inner_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  int command_ = -1;
  int left_ = 0;
  bool reached_ = false;
  bool held_ = false;
  bool open_ = false;
  std::vector<std::string> since_;
};

}  // namespace zorv::test

#pragma once
// Eight physical drive numbers answered from a table: a drive is absent,
// refuses to open, or opens with a bus type and answers IDENTIFY DEVICE (on
// the ATA path or through the USB bridge's SCSI path) with built data.

#include <array>
#include <map>
#include <memory>
#include <vector>
#include <optional>
#include <string>

#include "discovery/identify_strings.h"
#include "support/test_support.h"

namespace zorv::test {

// IDENTIFY data with ATA strings (two characters per word, high byte first,
// padded with spaces) and the 48-bit sector count.
inline IdentifyData makeIdentify(const std::string& model, const std::string& serial, const std::string& firmware,
                                 uint64_t sectors, const std::string& word135 = "") {
  IdentifyData id{};
  auto put = [&](size_t offset, size_t len, const std::string& text) {
    for (size_t i = 0; i < len; ++i) {
      char c = i < text.size() ? text[i] : ' ';
      id[offset + (i ^ 1)] = static_cast<uint8_t>(c);
    }
  };
  put(20, 20, serial);
  put(46, 8, firmware);
  put(54, 40, model);
  if (!word135.empty()) put(270, 2, word135);
  for (int i = 0; i < 8; ++i) id[200 + static_cast<size_t>(i)] = static_cast<uint8_t>(sectors >> (8 * i));
  return id;
}

struct FakeDrive {
  uint8_t busType = kBusSata;
  IdentifyData identify{};
  IoError openError = IoError::None;
  bool identifyFails = false;
  IoError identifyError = IoError::None;  // the pass-through itself refused
};

// Arrival and removal events the test pushes.
class FakeEventSource : public DeviceEventSource {
 public:
  explicit FakeEventSource(std::shared_ptr<std::vector<DeviceEvent>> queue) : queue_(std::move(queue)) {}
  bool poll(std::vector<DeviceEvent>& out, int) override {
    out.insert(out.end(), queue_->begin(), queue_->end());
    queue_->clear();
    return true;
  }

 private:
  std::shared_ptr<std::vector<DeviceEvent>> queue_;
};

class FakeBay : public RecordingPort {
 public:
  FakeBay() {
    ata = [this](AtaPassThroughRequest& r) { return answerAta(r); };
    scsi = [this](ScsiRequest& r) { return answerScsi(r); };
  }

  IoOutcome queryBusType(const std::string& path, uint8_t& bus) override {
    paths.push_back(path);
    auto it = drives.find(path);
    if (it == drives.end()) return IoOutcome::failure(IoError::NoDevice);
    if (it->second.openError != IoError::None) return IoOutcome::failure(it->second.openError);
    bus = it->second.busType;
    return {};
  }

  std::unique_ptr<DeviceEventSource> watchDevices() override {
    return watchable ? std::make_unique<FakeEventSource>(events) : nullptr;
  }
  void pushEvent(DeviceEventKind kind, const std::string& interfaceName) { events->push_back({kind, interfaceName}); }

  void put(int n, FakeDrive d) { drives[physicalDrivePath(n)] = d; }
  void remove(int n) { drives.erase(physicalDrivePath(n)); }
  int identifyCount() const { return identifies; }

  std::map<std::string, FakeDrive> drives;
  bool watchable = true;
  std::shared_ptr<std::vector<DeviceEvent>> events = std::make_shared<std::vector<DeviceEvent>>();

 private:
  FakeDrive* current() {
    auto it = drives.find(paths.back());
    return it == drives.end() ? nullptr : &it->second;
  }
  IoOutcome answerAta(AtaPassThroughRequest& r) {
    FakeDrive* d = current();
    if (!d) return IoOutcome::failure(IoError::NoDevice);
    ++identifies;
    if (d->identifyError != IoError::None) return IoOutcome::failure(d->identifyError);
    if (d->identifyFails || r.currentTaskFile[6] != 0xEC) {
      r.currentTaskFile[6] = 0x51;
      return {};
    }
    std::copy(d->identify.begin(), d->identify.end(), r.dataBuffer);
    r.currentTaskFile[6] = 0x50;
    r.bytesTransferred = 512;
    return {};
  }
  IoOutcome answerScsi(ScsiRequest& r) {
    FakeDrive* d = current();
    if (!d) return IoOutcome::failure(IoError::NoDevice);
    ++identifies;
    if (d->identifyFails || r.cdb[0] != 0x85 || r.cdb[14] != 0xEC) {
      r.scsiStatus = 2;
      return {};
    }
    std::copy(d->identify.begin(), d->identify.end(), r.dataBuffer);
    r.bytesTransferred = 512;
    return {};
  }
  int identifies = 0;
};

// A context on a fake bay, as the programs make it (start-up defaults applied, nothing selected).
struct BayContext {
  BayContext() : ctx(bay, ui, clock, pane) {}
  FakeBay bay;
  RecordingUi ui;
  ManualClock clock;
  StringSink pane;
  Context ctx;
};

}  // namespace zorv::test

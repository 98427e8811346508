#pragma once
// Test doubles shared by the suites: a user interface that records every box
// and answers from a script, and a device port that records requests and
// answers from a programmable handler (for checking what the transport sends
// byte by byte; behaviour tests use the simulated bay).

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "transport/context.h"

namespace zorv::test {

struct ShownBox {
  std::string text;
  BoxIcon icon;
  std::string caption;
};

class RecordingUi : public UserInterface {
 public:
  void messageBox(std::string_view text, BoxIcon icon, std::string_view caption) override;
  bool askYesNo(std::string_view text, std::string_view caption, BoxIcon icon) override;
  bool askGoOn(std::string_view text) override;
  std::optional<std::string> chooseOpenFile(std::string_view caption, std::string_view filter) override;
  std::vector<std::string> chooseOpenFiles(std::string_view caption, std::string_view filter) override;
  std::optional<std::string> chooseSaveFile(std::string_view caption, std::string_view filter,
                                            std::string_view suggestedName) override;

  std::vector<ShownBox> boxes;             // every message box and question, in order
  std::deque<bool> answers;                // answers to questions; "no" when empty
  std::deque<std::string> files;           // answers to file choices; cancelled when empty
};

// Records every request; answers with `ata` / `scsi` handlers (default: GOOD).
class RecordingPort : public DevicePort {
 public:
  std::string_view name() const override { return "recording"; }
  std::string physicalDrivePath(int n) const override { return "rec:" + std::to_string(n); }
  IoOutcome queryBusType(const std::string& path, uint8_t& busType) override;
  IoOutcome ataPassThrough(const std::string& path, AtaPassThroughRequest& request) override;
  IoOutcome scsiPassThrough(const std::string& path, ScsiRequest& request) override;
  IoOutcome submitQueued(const std::string& path, int slot, ScsiRequest& request) override;
  SlotState pollSlot(int slot) override;
  void drainQueue() override;

  std::vector<AtaPassThroughRequest> ataRequests;
  std::vector<ScsiRequest> scsiRequests;  // synchronous and queued, in order
  std::vector<std::string> paths;
  std::function<IoOutcome(AtaPassThroughRequest&)> ata;
  std::function<IoOutcome(ScsiRequest&)> scsi;
  uint8_t busType = kBusSata;
  std::array<ScsiRequest*, kQueueSlots> inFlight{};
};

// IDENTIFY DEVICE as the transport tests send it: one sector, LBA mode.
inline AtaTaskFile identifyTaskFile() {
  AtaTaskFile tf;
  tf.ucCommand = 0xEC;
  tf.ucCount = 1;
  tf.ucDevice = 0x40;
  return tf;
}

// A context on its own port/ui/clock/pane with one drive selected.
struct TestContext {
  explicit TestContext(DevicePort& port, uint8_t busType = kBusSata);
  RecordingUi ui;
  ManualClock clock;
  StringSink pane;
  Context ctx;
};

}  // namespace zorv::test

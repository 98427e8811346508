#pragma once
// A drive double for the flash operations: READ BUFFER answers the queued
// reply sectors in order (0xFF once they are used up, as the transport
// leaves the buffer), F7h reads answer `bigReply`, and every command is kept
// with the data it carried out.

#include <array>
#include <cstring>
#include <deque>
#include <optional>
#include <vector>

#include "support/test_support.h"
#include "diagnostics/diag_run.h"

namespace zorv::test {

struct ScriptedCommand {
  uint8_t command = 0;
  uint8_t feature = 0;
  uint8_t count = 0;
  bool dataOut = false;
  uint32_t length = 0;
  std::vector<uint8_t> data;  // what a data-out command carried
};

using Sector = std::array<uint8_t, 512>;

inline Sector filledSector(uint8_t fill) {
  Sector s;
  s.fill(fill);
  return s;
}

class ScriptedDrive {
 public:
  ScriptedDrive() {
    port.ata = [this](AtaPassThroughRequest& r) {
      ScriptedCommand c;
      c.command = r.currentTaskFile[6];
      c.feature = r.currentTaskFile[0];
      c.count = r.currentTaskFile[1];
      c.dataOut = (r.ataFlags & kAtaFlagsDataOut) != 0;
      c.length = r.dataTransferLength;
      if (c.dataOut) c.data.assign(r.dataBuffer, r.dataBuffer + r.dataTransferLength);
      bool fail = (failCommand && *failCommand == c.command && (!failFeature || *failFeature == c.feature)) ||
                  (failNth && *failNth == sent.size());
      if (!c.dataOut && !fail) {
        if (c.command == 0xE4 && !replies.empty()) {
          std::memcpy(r.dataBuffer, replies.front().data(), std::min<size_t>(512, r.dataTransferLength));
          replies.pop_front();
        } else if (c.command == 0xE4 && endless) {
          std::memcpy(r.dataBuffer, endless->data(), std::min<size_t>(512, r.dataTransferLength));
        } else if (c.command == 0xF7) {
          std::memcpy(r.dataBuffer, bigReply.data(), std::min<size_t>(bigReply.size(), r.dataTransferLength));
        }
      }
      sent.push_back(std::move(c));
      r.currentTaskFile[6] = fail ? 0x51 : 0x50;
      if (fail) r.currentTaskFile[0] = 0x04;
      return IoOutcome{};
    };
  }

  std::vector<const ScriptedCommand*> withCommand(uint8_t command) const {
    std::vector<const ScriptedCommand*> out;
    for (const ScriptedCommand& c : sent)
      if (c.command == command) out.push_back(&c);
    return out;
  }

  RecordingPort port;
  TestContext tc{port};
  std::deque<Sector> replies;
  std::vector<uint8_t> bigReply;
  std::vector<ScriptedCommand> sent;
  std::optional<uint8_t> failCommand;
  std::optional<uint8_t> failFeature;
  std::optional<size_t> failNth;  // the command with this index (from 0) fails
  std::optional<Sector> endless;  // READ BUFFER's answer once the queue is empty
};

// A run of the console on a scripted drive, files going to dir.
struct ScriptedRun {
  explicit ScriptedRun(ScriptedDrive& d, const std::string& dir, uint16_t modelClass = 0)
      : run(d.tc.ctx, pane, memory) {
    run.modelClass = modelClass;
    run.directory = dir;
    run.clock = DiagClockValue{d.tc.clock.localTime(), true};
    d.tc.ctx.DriveTable[0].strSerial = "SN0042";
    d.tc.ctx.DriveTable[0].usModelClass = modelClass;
  }
  StringSink pane;
  RowMemory memory;
  DiagRun run;
};

}  // namespace zorv::test

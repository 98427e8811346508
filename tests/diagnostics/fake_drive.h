#pragma once
// A drive double for checking what the vendor code sends: every ATA request
// is kept with the data it carried out, and data-in requests are answered
// from a responder (default: the device returns no data, so the buffer keeps
// its 0xFF fill).

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "support/test_support.h"
#include "transport/ata_task_file.h"

namespace zorv::test {

struct SentCommand {
  AtaPassThroughRequest request;
  std::vector<uint8_t> dataOut;  // what the buffer held for a data-out command

  uint8_t command() const { return request.currentTaskFile[6]; }
  uint8_t feature() const { return request.currentTaskFile[0]; }
  uint8_t count() const { return request.currentTaskFile[1]; }
  bool isDataOut() const { return (request.ataFlags & kAtaFlagsDataOut) != 0; }
};

class FakeDrive {
 public:
  explicit FakeDrive(RecordingPort& port) {
    port.ata = [this](AtaPassThroughRequest& r) {
      SentCommand s{r, {}};
      if (r.ataFlags & kAtaFlagsDataOut) s.dataOut.assign(r.dataBuffer, r.dataBuffer + r.dataTransferLength);
      sent.push_back(std::move(s));
      if (!(r.ataFlags & kAtaFlagsDataOut) && respond) {
        std::vector<uint8_t> reply = respond(r);
        std::memcpy(r.dataBuffer, reply.data(), std::min<size_t>(reply.size(), r.dataTransferLength));
      }
      // The status register comes back where the command went.
      r.currentTaskFile[6] = (failCommand && r.currentTaskFile[6] == *failCommand) ? 0x51 : 0x50;
      if (returnedLba) {
        r.currentTaskFile[2] = (*returnedLba)[5];
        r.currentTaskFile[3] = (*returnedLba)[4];
        r.currentTaskFile[4] = (*returnedLba)[3];
        r.previousTaskFile[2] = (*returnedLba)[2];
        r.previousTaskFile[3] = (*returnedLba)[1];
        r.previousTaskFile[4] = (*returnedLba)[0];
      }
      return IoOutcome{};
    };
  }

  std::vector<SentCommand> sent;
  std::function<std::vector<uint8_t>(const AtaPassThroughRequest&)> respond;
  std::optional<uint8_t> failCommand;                 // this opcode completes with ERR
  std::optional<std::array<uint8_t, 6>> returnedLba;  // most significant first
};

}  // namespace zorv::test

#pragma once
// The repair station's write/read test: 64 KiB of a fixed pattern (byte i of
// every sector is i mod 256) written over the test range, 80h sectors per
// command, then the same range read back; then, for a drive of the brand the
// program is built for, the drive's total written gigabytes and power-on
// hours. Runs on a worker with a context of its own for the one drive it was
// handed; every write passes the raw-write gate first and stays in the range.

#include <atomic>
#include <string>

#include "mediatest/raw_write_guard.h"
#include "rma/rma_limits.h"
#include "transport/context.h"

namespace zorv::rma {

enum class WriteReadOutcome : uint8_t {
  Passed,
  Refused,      // the drive may not be written (refusal says why); nothing was written
  WriteFailed,  // "Write Test Fail"
  ReadFailed,   // "Read Test Fail"
  Stopped,      // the stop flag was raised before the test ended
  LifeQueryFailed,  // the drive failed the query of its written gigabytes and hours
};

struct WriteReadResult {
  WriteReadOutcome outcome = WriteReadOutcome::Refused;
  std::string refusal;
  uint32_t failedLba = 0;
  bool passed() const { return outcome == WriteReadOutcome::Passed; }
};

struct WriteReadJob {
  DriveEntry drive;           // the drive under test, fixed when the test starts
  std::string driveListLine;  // its line in the drive list
  WriteReadRange range;
  RawWritePermission permission;
};

// Byte i of every 512-byte sector of the first `bytes` of buffer is i mod 256.
void fillWriteReadPattern(uint8_t* buffer, size_t bytes);

// Whether the drive-list line's model word (the word after "Physical Drive
// N") holds the name of the brand the program as built accepts.
bool lineNamesBuiltBrand(const std::string& driveListLine);

// Texts ("Testing Read/Write\r\n", the life line) go to box through parent's
// message mode. Does not write the report or show the verdict.
WriteReadResult runWriteReadTest(Context& parent, const WriteReadJob& job, MessageSink& box,
                                 std::atomic<uint8_t>& stop);

}  // namespace zorv::rma

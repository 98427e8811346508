#pragma once
// The four raw-drive media tests, selected by the operation code usOpCode,
// and the parameters the test dialog (CEditFunc) hands them.

#include <cstdint>
#include <string>
#include <string_view>

namespace zorv {

struct Context;

constexpr uint16_t kOpSeqRead = 0x3310;
constexpr uint16_t kOpRandomAccess = 0x3321;
constexpr uint16_t kOpSeqWrite = 0x3640;
constexpr uint16_t kOpRandomWrite = 0x3650;

bool isMediaTestCode(uint16_t opCode);
bool isWriteTestCode(uint16_t opCode);
// "seq-read", "rnd-access", "seq-write", "rnd-write"; empty for other codes.
std::string_view mediaTestName(uint16_t opCode);

// Write types of WriteByType: a plain WRITE(10) from SectorBuffer, or a
// queued WRITE(10) from a slot buffer.
constexpr uint16_t kWriteTypePlain = 0;
constexpr uint16_t kWriteTypeQueued = 3;

// Blocks one command may move: the sector buffer and every queue slot hold
// 1 MiB.
constexpr uint32_t kMaxTestBlocks = (1u << 20) / 512;

struct MediaTestParams {
  uint16_t usOpCode = kOpSeqRead;
  uint32_t ulStartLba = 0;
  uint32_t ulEndLba = 0;   // the range is [ulStartLba, ulEndLba)
  uint32_t ulBlks = 0x20;  // blocks per command; with fgRndBlks the bound of the random count
  uint32_t ulLoop = 1;
  uint32_t ulLength = 0;   // read commands per measured group (sequential read)
  uint32_t ulAlign = 0;    // 0: no rounding
  uint32_t ulMaxErr = 0;
  uint32_t ulMaxTime = 0;  // ms, 0: no limit
  uint32_t ulAvgTime = 0;  // ms, 0: no limit
  uint8_t fgRndBlks = 0;
  uint8_t fgReadVerify = 0;
  uint8_t _fgNCQEnable = 1;
  uint16_t usWriteType = kWriteTypePlain;
};

// Why the parameters cannot run on a drive of driveSectors sectors; empty
// when they can. Refused: an unknown code, start >= end, zero blocks per
// command or more than a buffer holds, an end beyond the drive, a
// sequential read without read commands per group (it would measure empty
// groups for ever), and a random access range whose only readable LBA
// would be LBA 0 (never read).
std::string mediaTestRefusal(const MediaTestParams& params, uint64_t driveSectors);

// The range check every lap-based test makes again when it starts (its
// parameters may come from a caller that skipped mediaTestRefusal): an empty
// range, or commands of no blocks that would never reach its end. Prints the
// refusal as an error line and returns false; true when the test may run.
bool CheckTestRange(Context& ctx, uint32_t ulStartLba, uint32_t ulEndLba, uint32_t ulBlks);

}  // namespace zorv

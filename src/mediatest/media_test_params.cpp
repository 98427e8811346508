#include "mediatest/media_test_params.h"

#include "transport/message.h"

namespace zorv {

bool isMediaTestCode(uint16_t opCode) { return !mediaTestName(opCode).empty(); }

bool isWriteTestCode(uint16_t opCode) { return opCode == kOpSeqWrite || opCode == kOpRandomWrite; }

std::string_view mediaTestName(uint16_t opCode) {
  switch (opCode) {
    case kOpSeqRead: return "seq-read";
    case kOpRandomAccess: return "rnd-access";
    case kOpSeqWrite: return "seq-write";
    case kOpRandomWrite: return "rnd-write";
    default: return {};
  }
}

std::string mediaTestRefusal(const MediaTestParams& p, uint64_t driveSectors) {
  if (!isMediaTestCode(p.usOpCode)) return formatText("Unknown media test code %04X", p.usOpCode);
  if (p.ulStartLba >= p.ulEndLba) return "Invalid parameter. (StartLBA > EndLBA)";
  if (p.ulBlks == 0) return "Blks: at least 1 block per command";
  if (p.ulBlks > kMaxTestBlocks)
    return formatText("Blks: at most %X blocks per command (1 MiB, the sector buffer and a queue slot)", kMaxTestBlocks);
  if (p.ulEndLba > driveSectors)
    return formatText("ELBA: 0x%X lies beyond the end of the drive (0x%llX sectors)", p.ulEndLba,
                      static_cast<unsigned long long>(driveSectors));
  if (p.usOpCode == kOpSeqRead && p.ulLength == 0) return "Length: at least 1 read command per measured group";
  if (p.usOpCode == kOpRandomAccess) {
    // The random reads start on a multiple of Align inside the range and
    // never at LBA 0: at least one such LBA must exist, or the draw would
    // never end.
    uint64_t first = p.ulStartLba == 0 ? 1 : p.ulStartLba;
    if (p.ulAlign != 0) first = (first + p.ulAlign - 1) / p.ulAlign * p.ulAlign;
    if (first >= p.ulEndLba)
      return p.ulAlign == 0 ? "SLBA, ELBA: the range holds only LBA 0, which the random access test never reads"
                            : "Align: no LBA of the range but 0 is a multiple of Align";
  }
  return {};
}

bool CheckTestRange(Context& ctx, uint32_t ulStartLba, uint32_t ulEndLba, uint32_t ulBlks) {
  if (ulStartLba >= ulEndLba) {
    PrintError(ctx, "Invalid parameter. (StartLBA > EndLBA)");
    return false;
  }
  if (ulBlks == 0) {
    PrintError(ctx, "Blks: at least 1 block per command");
    return false;
  }
  return true;
}

}  // namespace zorv

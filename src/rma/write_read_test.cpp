#include "rma/write_read_test.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "discovery/brands.h"
#include "transport/ata_command.h"
#include "transport/byte_order.h"
#include "transport/scsi_command.h"

namespace zorv::rma {

namespace {

// The brand entry the program as built accepts (the brand list's third).
constexpr size_t kBuiltBrand = 2;
// The life sector: F7h with feature 16h, count and LBA low B0h.
constexpr uint8_t kLifeFeature = 0x16;
constexpr uint8_t kLifeKey = 0xB0;

// False when the drive failed the query.
bool showLife(Context& ctx, MessageSink& box) {
  AtaTaskFile& tf = ctx.CmdBlock;
  tf.clear();
  tf.ucCommand = ata::kVendorSwitch;
  tf.ucFeature = kLifeFeature;
  tf.ucCount = kLifeKey;
  tf.ucLbaLow = kLifeKey;
  // A drive that fails a command here has failed the check like one that
  // fails a write or a read: it may not pass.
  if (!SendAtaCommand(ctx, false, tf, false, 512)) return false;
  const uint8_t* s = ctx.SectorBuffer.data();
  if (s[1] == 0) return true;
  AppendMessage(ctx,
                formatText("Total Wr Giga Byte: %.f\r\nPower On Hours: %.f\r\n",
                           static_cast<double>(be32(s + 20)), static_cast<double>(be32(s + 36))),
                box);
  return true;
}

}  // namespace

void fillWriteReadPattern(uint8_t* buffer, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) buffer[i] = static_cast<uint8_t>(i % 512 % 256);
}

bool lineNamesBuiltBrand(const std::string& driveListLine) {
  std::istringstream words(driveListLine);
  std::vector<std::string> w;
  for (std::string word; words >> word;) w.push_back(word);
  // "Physical Drive N <model> <serial> <capacity> <bus>"
  if (w.size() < 4 || w[0] != "Physical" || w[1] != "Drive") return false;
  return w[3].find(kBrandNames[kBuiltBrand]) != std::string::npos;
}

WriteReadResult runWriteReadTest(Context& parent, const WriteReadJob& job, MessageSink& box,
                                 std::atomic<uint8_t>& stop) {
  Context ctx(parent, job.drive, parent.messagePane(), stop);
  WriteReadResult r;
  AppendMessage(ctx, "Testing Read/Write\r\n", box);

  const WriteReadRange& range = job.range;
  r.refusal = rawWriteRefusal(ctx, job.drive, range.startLba, range.endLba(), job.permission);
  if (!r.refusal.empty()) {
    r.outcome = WriteReadOutcome::Refused;
    return r;
  }
  RawWriteGuard guard(range.startLba, range.endLba());
  const uint32_t step = range.commandLength;
  const size_t patternBytes = std::min<size_t>(65536, ctx.SectorBuffer.size());
  if (step == 0 || uint64_t{step} * 512 > patternBytes) {
    r.outcome = WriteReadOutcome::Refused;
    r.refusal = "the command length does not fit the pattern buffer";
    return r;
  }
  fillWriteReadPattern(ctx.SectorBuffer.data(), patternBytes);

  for (int pass = 0; pass < 2; ++pass) {
    const bool writing = pass == 0;
    for (uint64_t lba = range.startLba; lba < range.endLba(); lba += step) {
      if (stop.load()) {
        r.outcome = WriteReadOutcome::Stopped;
        r.failedLba = static_cast<uint32_t>(lba);
        return r;
      }
      const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(step, range.endLba() - lba));
      bool ok =
          guard.allows(lba, count) && (writing ? WriteBlocks(ctx, static_cast<uint32_t>(lba), count, 512)
                                               : ReadBlocks(ctx, static_cast<uint32_t>(lba), count, false));
      if (!ok) {
        r.outcome = writing ? WriteReadOutcome::WriteFailed : WriteReadOutcome::ReadFailed;
        r.failedLba = static_cast<uint32_t>(lba);
        return r;
      }
    }
  }
  // Behind a USB bridge the query cannot travel: its count register (B0h) is
  // over what the transport lets through a bridge, which would only put up
  // an error box in a passing run.
  if (lineNamesBuiltBrand(job.driveListLine) && job.drive.ucBusType != kBusUsb && !showLife(ctx, box)) {
    r.outcome = WriteReadOutcome::LifeQueryFailed;
    return r;
  }
  r.outcome = WriteReadOutcome::Passed;
  return r;
}

}  // namespace zorv::rma

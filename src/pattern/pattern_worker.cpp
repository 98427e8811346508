#include "pattern/pattern_worker.h"

#include <chrono>
#include <cstring>

#include "pattern/comp_err_log.h"
#include "pattern/pattern_data.h"
#include "transport/ata_command.h"
#include "transport/scsi_command.h"

namespace zorv {

// ---- counters

void PatternCounters::start(uint32_t loop) {
  totalRead_ = 0;
  totalWritten_ = 0;
  secondRead_ = 0;
  secondWritten_ = 0;
  errors_ = 0;
  breakRequested_ = false;
  loop_ = loop;
}

void PatternCounters::addRead(uint64_t bytes) {
  totalRead_.fetch_add(bytes);
  secondRead_.fetch_add(bytes);
}

void PatternCounters::addWritten(uint64_t bytes) {
  totalWritten_.fetch_add(bytes);
  secondWritten_.fetch_add(bytes);
}

void PatternCounters::countDownLoop() {
  uint32_t v = loop_.load();
  while (v > 0 && !loop_.compare_exchange_weak(v, v - 1)) {
  }
}

PatternCounters::Second PatternCounters::peek() const {
  Second s;
  s.totalRead = totalRead_.load();
  s.totalWritten = totalWritten_.load();
  s.readThisSecond = secondRead_.load();
  s.writtenThisSecond = secondWritten_.load();
  s.loop = loop_.load();
  s.errors = errors_.load();
  return s;
}

PatternCounters::Second PatternCounters::tick() {
  Second s = peek();
  s.readThisSecond = secondRead_.exchange(0);
  s.writtenThisSecond = secondWritten_.exchange(0);
  return s;
}

std::string patternCounterLine(const PatternCounters::Second& s) {
  return formatText("Total Rd: %llu  Total Wr: %llu  Byte Rd/Sec: %llu  Byte Wr/Sec: %llu  Loop: %X",
                    static_cast<unsigned long long>(s.totalRead), static_cast<unsigned long long>(s.totalWritten),
                    static_cast<unsigned long long>(s.readThisSecond),
                    static_cast<unsigned long long>(s.writtenThisSecond), s.loop);
}

// ---- parameters

namespace {

// The LBAs each command can address: 28 bits in the DMA register image, 32
// in READ(10)/WRITE(10), 48 in the DMA EXT image.
uint64_t commandReach(PatternCommand command) {
  switch (command) {
    case PatternCommand::Dma: return uint64_t{1} << 28;
    case PatternCommand::ScsiPass: return uint64_t{1} << 32;
    case PatternCommand::DmaExt: return uint64_t{1} << 48;
    case PatternCommand::None: break;
  }
  return 0;
}

const char* commandName(PatternCommand command) {
  switch (command) {
    case PatternCommand::Dma: return "DMA";
    case PatternCommand::ScsiPass: return "SCSI Pass";
    case PatternCommand::DmaExt: return "DMA Ext";
    case PatternCommand::None: break;
  }
  return "";
}

unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }

}  // namespace

std::string patternRunRefusal(const PatternRunParams& p, const DriveEntry& drive) {
  if (p.command == PatternCommand::None) return "Choose the command: DMA, DMA Ext or SCSI Pass";
  if (p.sectors == 0) return "Sector Number: a sector count of 0 moves no data";
  if (p.sectorSize != drive.usSectorSize || p.sectorSize == 0)
    return formatText("The pattern was made for %u-byte sectors; the drive has %u-byte sectors: press Gen Data again",
                      p.sectorSize, drive.usSectorSize);
  if (uint64_t{p.sectors} * p.sectorSize > kMaxPatternBytes)
    return formatText("Sector Number: at most 0x%X sectors of %u bytes", kMaxPatternBytes / p.sectorSize, p.sectorSize);
  if (!p.onlyRead && p.pattern.size() < size_t{p.sectors} * p.sectorSize) return "No pattern yet: press Gen Data first";
  if (p.loop == 0) return "Loop: a loop count of 0 runs nothing";
  if (p.errLimit == 0 || p.errLimit > kMaxErrLimit) return "Err Limit: 1 to 10";
  if (p.startLba == p.endLba) return "Start LBA = End LBA";
  const uint64_t capacity = drive.sectorCount();
  std::optional<PatternRange> range = PatternRange::make(p.startLba, p.endLba, capacity);
  if (!range)
    return formatText("Start LBA 0x%llX or End LBA 0x%llX lies beyond the drive (0x%llX sectors)", ull(p.startLba),
                      ull(p.endLba), ull(capacity));
  if (p.stamps.record && p.stamps.offset + uint64_t{p.stamps.extent()} > p.sectorSize)
    return formatText("Offset %u leaves no room for the stamps (%u bytes) in a %u-byte sector", p.stamps.offset,
                      p.stamps.extent(), p.sectorSize);
  if (p.command == PatternCommand::ScsiPass && p.sectorSize != 512)
    return formatText("SCSI Pass moves 512-byte blocks; the drive has %u-byte sectors: choose DMA or DMA Ext",
                      p.sectorSize);
  if (range->reach() > commandReach(p.command))
    return formatText("%s addresses LBAs below 0x%llX only; the range reaches 0x%llX: choose DMA Ext",
                      commandName(p.command), ull(commandReach(p.command)), ull(range->reach()));
  return {};
}

// ---- the worker

namespace {

bool transfer(Context& ctx, PatternCommand command, bool write, uint64_t lba, uint32_t sectors, uint32_t sectorSize) {
  const uint32_t bytes = sectors * sectorSize;
  AtaTaskFile tf;
  tf.ucCount = static_cast<uint8_t>(sectors);
  tf.ucLbaLow = static_cast<uint8_t>(lba);
  tf.ucLbaMid = static_cast<uint8_t>(lba >> 8);
  tf.ucLbaHigh = static_cast<uint8_t>(lba >> 16);
  switch (command) {
    case PatternCommand::Dma:
      tf.ucCommand = write ? ata::kWriteDma : ata::kReadDma;
      tf.ucDevice = static_cast<uint8_t>(0x40 | ((lba >> 24) & 0x0F));
      return SendAtaCommand(ctx, write, tf, true, bytes);
    case PatternCommand::DmaExt:
      tf.ucCommand = write ? ata::kWriteDmaExt : ata::kReadDmaExt;
      tf.ucDevice = 0x40;
      tf.ucCountExt = static_cast<uint8_t>(sectors >> 8);
      tf.ucLbaLowExt = static_cast<uint8_t>(lba >> 24);
      tf.ucLbaMidExt = static_cast<uint8_t>(lba >> 32);
      tf.ucLbaHighExt = static_cast<uint8_t>(lba >> 40);
      return SendAtaCommand(ctx, write, tf, true, bytes);
    case PatternCommand::ScsiPass:
      return write ? WriteBlocks(ctx, static_cast<uint32_t>(lba), sectors, static_cast<uint16_t>(sectorSize))
                   : ReadBlocks(ctx, static_cast<uint32_t>(lba), sectors, false);
    case PatternCommand::None:
      break;
  }
  return false;
}

std::string lbaLine(const char* what, uint64_t lba) {
  return formatText("<<%s Data>> LBA: %02X%02X %02X%02X%02X%02X\r\n", what, static_cast<unsigned>((lba >> 40) & 0xFF),
                    static_cast<unsigned>((lba >> 32) & 0xFF), static_cast<unsigned>((lba >> 24) & 0xFF),
                    static_cast<unsigned>((lba >> 16) & 0xFF), static_cast<unsigned>((lba >> 8) & 0xFF),
                    static_cast<unsigned>(lba & 0xFF));
}

class PatternRun {
 public:
  PatternRun(Context& ctx, const PatternJob& job, MessageSink& box, PatternCounters& counters,
             const PatternRange& range, PatternResult& result)
      : ctx_(ctx), job_(job), p_(job.params), box_(box), counters_(counters), range_(range), result_(result),
        random_(job.seed), pattern_(job.params.pattern) {}

  void run() {
    t0_ = ctx_.clock->now();
    counters_.start(p_.loop);
    WalkSettings settings{p_.sectors, p_.shift, p_.shiftRandom, p_.lengthRandom};
    PatternWalk walk(range_, settings, random_);
    uint32_t serial = p_.firstSerial;
    do {
      command(walk.lba(), walk.sectors(), serial);
      serial += walk.sectors();
      ++result_.commands;
      if (result_.errorLimitReached) return;
      bool passEnded = walk.advance();
      if ((passEnded && p_.loopKind == LoopKind::Capacity) || p_.loopKind == LoopKind::Command)
        counters_.countDownLoop();
    } while (counters_.loop() != 0 && ctx_.fgStopRequest == 0);
  }

 private:
  void say(const std::string& text) { AppendMessage(ctx_, text, box_); }
  void chat(const std::string& text) {
    if (!p_.disableMessage) say(text);
  }

  void command(uint64_t lba, uint32_t sectors, uint32_t serial) {
    const uint32_t bytes = sectors * p_.sectorSize;
    // The walk keeps every command in the range; a command outside it is
    // never sent.
    if (!range_.contains(lba, sectors)) {
      transferFailed(p_.onlyRead ? "Read" : "Write", lba, sectors, serial);
      return;
    }
    if (!p_.onlyRead) {
      // All sectors of one command go out in the same instant: one reading
      // of the clock serves their time stamps.
      if (p_.stamps.any())
        stampSectors(pattern_.data(), sectors, p_.sectorSize, p_.stamps, lba, serial,
                     stampTimeDigits(ctx_.clock->localTime()));
      std::memcpy(ctx_.SectorBuffer.data(), pattern_.data(), bytes);
      chat(lbaLine("Write", lba));
      ctx_.ulCurLba = static_cast<uint32_t>(lba);
      if (!transfer(ctx_, p_.command, true, lba, sectors, p_.sectorSize)) {
        ++result_.writeFailures;
        transferFailed("Write", lba, sectors, serial);
        return;
      }
      counters_.addWritten(bytes);
      result_.bytesWritten += bytes;
      if (p_.compare == CompareKind::None) return;
    }
    std::memset(ctx_.SectorBuffer.data(), 0xFF, bytes);
    chat(lbaLine("Read", lba));
    ctx_.ulCurLba = static_cast<uint32_t>(lba);
    if (!transfer(ctx_, p_.command, false, lba, sectors, p_.sectorSize)) {
      ++result_.readFailures;
      transferFailed("Read", lba, sectors, serial);
      return;
    }
    counters_.addRead(bytes);
    result_.bytesRead += bytes;

    const uint8_t* data = ctx_.SectorBuffer.data();
    bool bad;
    if (!p_.onlyRead && p_.compare == CompareKind::Total) {
      bad = std::memcmp(data, pattern_.data(), bytes) != 0;
    } else {
      // Simple Compare, and every Only Read run: the stamps. The time stamp
      // is not compared (the read cannot know when the data was written),
      // nor, therefore, does Only Read compare whole bytes.
      bad = checkStamps(data, sectors, p_.sectorSize, p_.stamps, lba, serial).has_value();
    }
    if (!bad) {
      chat("    Compare Good\r\n");
      return;
    }
    ++result_.compareErrors;
    say(formatText("!!!!Err LBA: 0x%04X, length: 0x%04X!!!!\r\n", static_cast<unsigned>(lba & 0xFFFFFFFF), bytes));
    if (p_.saveLog)
      log(compErrReportText(report(lba, serial, bytes), std::span<const uint8_t>(data, bytes), p_.sectorSize));
    countError(lba);
  }

  void transferFailed(const char* what, uint64_t lba, uint32_t sectors, uint32_t serial) {
    const uint32_t bytes = sectors * p_.sectorSize;
    say(formatText("!!!!%s Failed LBA: 0x%04X%08X, length: 0x%04X!!!!\r\n", what,
                   static_cast<unsigned>((lba >> 32) & 0xFFFF), static_cast<unsigned>(lba & 0xFFFFFFFF), bytes));
    if (p_.saveLog) log(formatText("%s Failed\r\n", what) + compErrReportHead(report(lba, serial, bytes)));
    countError(lba);
  }

  CompErrReport report(uint64_t lba, uint32_t serial, uint32_t bytes) const {
    CompErrReport r;
    r.lba = lba;
    r.serial = serial;
    r.lengthBytes = bytes;
    r.elapsedSeconds =
        static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(ctx_.clock->now() - t0_).count());
    r.loop = counters_.loop();
    return r;
  }

  void log(const std::string& text) {
    std::string problem = appendCompErrLog(job_.logDirectory, text);
    if (problem.empty() || !result_.logProblem.empty()) return;
    result_.logProblem = problem;
    say(problem + "\r\n");
  }

  void countError(uint64_t lba) {
    if (!result_.firstErrorLba) result_.firstErrorLba = lba;
    ++result_.errors;
    counters_.addError();
    if (result_.errors >= p_.errLimit) {
      say("Error Time Over \r\n");
      result_.errorLimitReached = true;
    }
  }

  Context& ctx_;
  const PatternJob& job_;
  const PatternRunParams& p_;
  MessageSink& box_;
  PatternCounters& counters_;
  const PatternRange range_;
  PatternResult& result_;
  TestRandom random_;
  std::vector<uint8_t> pattern_;  // stamped per command
  Clock::TimePoint t0_{};
};

std::string writeRefusal(Context& ctx, const PatternJob& job, const PatternRange& range) {
  // A wrapping range is two stretches of the drive.
  if (!range.wraps) return rawWriteRefusal(ctx, job.drive, range.start, range.end, job.permission);
  std::string refusal = rawWriteRefusal(ctx, job.drive, range.start, range.capacity, job.permission);
  if (refusal.empty() && range.end > 0) refusal = rawWriteRefusal(ctx, job.drive, 0, range.end, job.permission);
  return refusal;
}

}  // namespace

PatternResult PatternWorker(Context& parent, const PatternJob& job) {
  PatternResult result;
  std::atomic<uint8_t>& stop = job.stop ? *job.stop : parent.fgStopRequest;
  MessageSink& box = job.messages ? *job.messages : parent.messagePane();
  PatternCounters ownCounters;
  PatternCounters& counters = job.counters ? *job.counters : ownCounters;
  const PatternRunParams& p = job.params;

  // The transport's own lines (an ATA error status) go to the message pane,
  // the generator's to its tab's box.
  Context ctx(parent, job.drive, parent.messagePane(), stop);
  ctx.fgReadVerify = 0;  // the generator checks its own stamps, not the write tests'
  ctx.fgFamilyDrive = isFamilyDrive(ctx, job.drive) ? 1 : 0;

  result.refusal = patternRunRefusal(p, job.drive);
  std::optional<PatternRange> range = PatternRange::make(p.startLba, p.endLba, job.drive.sectorCount());
  if (result.refusal.empty() && !p.onlyRead) result.refusal = writeRefusal(ctx, job, *range);
  if (!result.refusal.empty()) {
    AppendMessage(ctx, "<<Error>>\r\n" + result.refusal + "\r\n", box);
    if (job.releasesBusy) parent.fgBusy = 0;
    return result;
  }

  result.started = true;
  PatternRun run(ctx, job, box, counters, *range, result);
  run.run();
  result.stopped = !result.errorLimitReached && (ctx.fgStopRequest != 0 || counters.breakRequested());
  if (job.releasesBusy) parent.fgBusy = 0;
  return result;
}

}  // namespace zorv

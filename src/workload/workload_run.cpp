#include "workload/workload_run.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "mediatest/queued_transfers.h"
#include "transport/scsi_command.h"
#include "workload/jesd_table.h"
#include "workload/script_values.h"
#include "workload/speed_report.h"
#include "workload/workload_stamp.h"

namespace zorv {

namespace {

constexpr size_t kReadBackBatch = 100;
constexpr uint32_t kSlotDataBytes = kMaxCommandSectors * kWorkloadSectorSize;  // 128 KiB
constexpr uint32_t kMixedSeqSectors = 256;
constexpr uint32_t kMixedRndSectors = 8;
// Draws of a random command that keep overlapping the outstanding ones
// before the batch is read back to make room (a range barely larger than
// the batch would otherwise be drawn from for ever).
constexpr int kOverlapDraws = 1000;
// The window's own requests wait this long for the drive.
constexpr uint16_t kWorkloadTimeoutSeconds = 30;
constexpr uint64_t kMaxAddressableEnd = uint64_t{1} << 32;

enum class Step : uint8_t { Rsv, Seq, Rdn, Done, Run };

uint64_t megabytes(uint64_t sectors) { return (sectors * 512) >> 20; }

}  // namespace

std::string workloadPlanRefusal(const WorkloadPlan& p, const DriveEntry& drive) {
  const uint64_t sectors = drive.sectorCount();
  if (p.devicePath != drive.strDevicePath) return "The workload block names another drive: " + p.devicePath;
  if (p.writeEnd() <= p.writeFirst()) return "The workload writes no LBA";
  // Every pass writes the sequential and random areas; with both empty a
  // timed run would spin without writing.
  if (p.kind == WorkloadKind::RdnSqLoop && p.seqBoundary == p.rdnBoundary)
    return "The sequential and random areas are empty: nothing to run";
  if (p.writeEnd() > sectors)
    return formatText("LBA 0x%llX lies beyond the drive (0x%llX sectors)",
                      static_cast<unsigned long long>(p.writeEnd()), static_cast<unsigned long long>(sectors));
  if (p.writeEnd() > kMaxAddressableEnd)
    return formatText("LBA 0x%llX lies beyond 0xFFFFFFFF, which the workloads' 10-byte commands cannot address",
                      static_cast<unsigned long long>(p.writeEnd() - 1));
  if (p.kind == WorkloadKind::Jesd219a) {
    const uint64_t start[3] = {0, p.grp1Boundary, p.grp2Boundary};
    const uint64_t end[3] = {p.grp1Boundary, p.grp2Boundary, p.totalLba};
    for (size_t g = 0; g < p.script.groups.size(); ++g) {
      if (p.script.groups[g].share > 0 && end[g] <= start[g])
        return formatText("Address group %zu takes %u %% of the commands but holds no LBA", g + 1,
                          p.script.groups[g].share);
    }
  }
  return {};
}

class WorkloadRun::Engine : public TransferCompletion {
 public:
  Engine(Context& parent, const WorkloadJob& job, WorkloadResult& result)
      : parent_(parent), job_(job), plan_(job.plan), result_(result), guard_(plan_.writeFirst(), plan_.writeEnd()) {}

  std::atomic<uint64_t> curLba{0};
  std::atomic<uint64_t> written{0};       // sectors, whole run
  std::atomic<uint64_t> read{0};          // sectors, whole run
  std::atomic<uint64_t> phaseWritten{0};  // sectors, this phase
  std::atomic<uint32_t> loopsDone{0};
  std::atomic<Step> step{Step::Run};
  std::atomic<int64_t> elapsedMs{0};
  Clock::TimePoint started{};
  std::atomic<Clock*> clock{nullptr};  // set once the run has started

  void execute() {
    MessageSink& box = job_.messages ? *job_.messages : parent_.messagePane();
    std::atomic<uint8_t>& stop = job_.stop ? *job_.stop : parent_.fgStopRequest;
    std::string error;
    std::unique_ptr<DevicePort> port = job_.openPort ? job_.openPort(error) : nullptr;
    if (!port) {
      if (error.empty()) error = "no device backend";
      AppendMessage(parent_, formatText("Cannot open %s: %s\r\n", plan_.devicePath.c_str(), error.c_str()), box);
      result_.refusal = error;
      return;
    }
    // The queue's own pane lines ("Init NCQ Func") are not the window's.
    NullSink pane;
    Context ctx(parent_, job_.drive, pane, stop);
    ctx.port = port.get();
    ctx._fgNCQEnable = 1;
    ctx.fgFamilyDrive = 1;  // the raw-write gate admitted the drive before the window opened
    ctx.fgReadVerify = 0;
    ctx.usTimeoutShort = kWorkloadTimeoutSeconds;
    ctx.usTimeoutLong = kWorkloadTimeoutSeconds;
    ctx_ = &ctx;
    box_ = &box;

    TestRandom random(job_.seed ? *job_.seed : static_cast<uint32_t>(std::time(nullptr)));
    random_ = &random;
    randomData_.resize(kSlotDataBytes);
    for (uint8_t& b : randomData_) b = static_cast<uint8_t>(random.next());

    QueuedTransfers queue(ctx, *this);
    queue_ = &queue;
    if (!queue.open()) {
      AppendMessage(ctx, "Invalid Queue\r\n", box);
      AppendMessage(ctx, formatText("Last Error: %d\r\n", ENOMEM), box);
      return;
    }
    slotNeedsData_.fill(true);
    outstanding_.reserve(kReadBackBatch);
    result_.started = true;
    started = ctx.clock->now();
    clock = ctx.clock;

    if (plan_.kind == WorkloadKind::CapasLoop) openReport();
    switch (plan_.kind) {
      case WorkloadKind::RdnSqLoop: runMixed(); break;
      case WorkloadKind::CapasLoop:
      case WorkloadKind::DefineLop: runRange(); break;
      case WorkloadKind::Jesd219a: runClient(); break;
    }
    if (!failed_ && !stopped()) readBack();
    if (!failed_ && !stopped()) queue.drain();
    if (!failed_ && !stopped() && plan_.kind == WorkloadKind::CapasLoop) reportSecond(true);
    queue.close();
    queue_ = nullptr;
    step = Step::Done;
    report_.close();
    tickElapsed();
    result_.stopped = stopped();
    result_.passed = !failed_ && !result_.stopped;
    result_.sectorsWritten = written;
    result_.sectorsRead = read;
    result_.batches = batch_;
    if (result_.stopped && !failed_) AppendMessage(ctx, "Stopped\r\n", box);
    ctx_ = nullptr;
  }

  void tickElapsed() {
    if (Clock* c = clock.load())
      elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(c->now() - started).count();
  }

 private:
  bool stopped() const { return ctx_->fgStopRequest.load() != 0; }
  bool goOn() const { return !failed_ && !stopped(); }

  // --- the kinds ---

  void runRange() {
    const uint64_t start = plan_.rangeStart;
    const uint64_t end = plan_.rangeEnd;
    const uint32_t length = plan_.kb * 2;
    uint64_t cur = start;
    while (goOn() && written < plan_.totalSectors) {
      uint64_t l = length;
      if (plan_.lengthRandom) {
        do l = random_->next() % length;
        while (l == 0);
      }
      l = std::min<uint64_t>(l, plan_.totalSectors - written);
      uint64_t lba;
      if (plan_.sequential) {
        if (cur + l > end) cur = start;  // the next command would pass the end: back to the start
        lba = cur;
        cur += l;
      } else {
        lba = randomCommand(start, end, l);
        l = std::min<uint64_t>(l, end - lba);
      }
      writeCommand(lba, static_cast<uint32_t>(l));
      if (plan_.kind == WorkloadKind::CapasLoop) reportSecond(false);
    }
  }

  void runClient() {
    TestRandom& random = *random_;
    const JesdTable table = buildJesdTable(plan_.script, random);
    const uint64_t total = uint64_t{plan_.loop} * plan_.totalLba;
    const uint64_t groupStart[4] = {0, 0, plan_.grp1Boundary, plan_.grp2Boundary};
    const uint64_t groupEnd[4] = {0, plan_.grp1Boundary, plan_.grp2Boundary, plan_.totalLba};
    size_t i = 0;
    while (goOn() && written < total) {
      const JesdEntry& e = table[i];
      i = (i + 1) % kJesdTableSize;
      if (e.sectors == 0 || e.group == 0 || groupEnd[e.group] <= groupStart[e.group]) continue;
      uint64_t l = std::min<uint64_t>(e.sectors, total - written);
      uint64_t lba = randomCommand(groupStart[e.group], groupEnd[e.group], l);
      l = std::min<uint64_t>(l, groupEnd[e.group] - lba);
      writeCommand(lba, static_cast<uint32_t>(l));
    }
  }

  void runMixed() {
    const Clock::TimePoint limit =
        started + std::chrono::hours(plan_.hours) + std::chrono::minutes(plan_.minutes);
    auto timeUp = [&] { return plan_.byTime && clock.load()->now() >= limit; };
    if (plan_.rsvFill) {
      step = Step::Rsv;
      sequentialPass(0, plan_.rsvBoundary, timeUp);
    }
    while (goOn() && !timeUp()) {
      step = Step::Seq;
      sequentialPass(plan_.rsvBoundary, plan_.seqBoundary, timeUp);
      step = Step::Rdn;
      phaseWritten = 0;
      const uint64_t area = plan_.rdnBoundary - plan_.seqBoundary;
      while (goOn() && !timeUp() && phaseWritten < area) {
        uint64_t l = std::min<uint64_t>(kMixedRndSectors, area - phaseWritten);
        uint64_t lba = randomCommand(plan_.seqBoundary, plan_.rdnBoundary, l);
        l = std::min<uint64_t>(l, plan_.rdnBoundary - lba);
        writeCommand(lba, static_cast<uint32_t>(l));
        phaseWritten += l;
      }
      if (goOn()) readBack();
      ++loopsDone;
      if (!plan_.byTime && loopsDone >= plan_.loops) break;
    }
  }

  template <typename TimeUp>
  void sequentialPass(uint64_t first, uint64_t end, TimeUp timeUp) {
    phaseWritten = 0;
    for (uint64_t cur = first; goOn() && !timeUp() && cur < end;) {
      uint32_t l = static_cast<uint32_t>(std::min<uint64_t>(kMixedSeqSectors, end - cur));
      writeCommand(cur, l);
      cur += l;
      phaseWritten += l;
    }
    if (goOn()) readBack();
  }

  // --- commands ---

  uint64_t random48() {
    uint64_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 12) | (random_->next() & 0xFFF);
    return v;
  }

  bool overlapsOutstanding(uint64_t lba, uint64_t length) const {
    const uint64_t last = lba + length - 1;
    for (const auto& [first, count] : outstanding_) {
      if ((lba >= first && lba < first + count) || (last >= first && last < first + count)) return true;
    }
    return false;
  }

  uint64_t randomCommand(uint64_t start, uint64_t end, uint64_t length) {
    uint64_t lba = start + random48() % (end - start);
    if (!plan_.readBack && plan_.kind != WorkloadKind::RdnSqLoop) return lba;
    for (int draws = 1; overlapsOutstanding(lba, std::min(length, end - lba)); ++draws) {
      if (draws == kOverlapDraws) readBack();
      if (!goOn()) break;
      lba = start + random48() % (end - start);
    }
    return lba;
  }

  bool readsBack() const { return plan_.readBack || plan_.kind == WorkloadKind::RdnSqLoop; }

  void writeCommand(uint64_t lba, uint32_t count) {
    if (count == 0 || !goOn()) return;
    if (!guard_.allows(lba, count)) {
      AppendMessage(*ctx_, formatText("Write of 0x%X sectors at 0x%llX refused: outside the range of the workload\r\n",
                                      count, static_cast<unsigned long long>(lba)),
                    *box_);
      fail();
      return;
    }
    int slot = acquireSlot();
    if (slot == kNoSlot) return;
    uint8_t* data = ctx_->slots[static_cast<size_t>(slot)].buffer.data();
    if (slotNeedsData_[static_cast<size_t>(slot)]) {
      std::memcpy(data, randomData_.data(), randomData_.size());
      slotNeedsData_[static_cast<size_t>(slot)] = false;
    }
    stampWorkloadSectors(data, lba, count, batch_);
    if (readsBack()) outstanding_.emplace_back(lba, count);
    curLba = lba;
    written += count;
    if (!queue_->writeFilled(slot, static_cast<uint32_t>(lba), count)) return;  // reported by transferDone
    if (readsBack() && outstanding_.size() >= kReadBackBatch) readBack();
  }

  int acquireSlot() {
    int slot = queue_->acquire();
    if (slot != kNoSlot || stopped() || failed_) return slot;
    queueError();
    return kNoSlot;
  }

  // Every outstanding command is read back once all writes have landed;
  // the completions check the stamps.
  void readBack() {
    if (outstanding_.empty()) return;
    queue_->drain();
    for (const auto& [lba, count] : outstanding_) {
      if (!goOn()) return;
      int slot = acquireSlot();
      if (slot == kNoSlot) return;
      slotNeedsData_[static_cast<size_t>(slot)] = true;
      if (!queue_->read(slot, static_cast<uint32_t>(lba), count)) return;
      read += count;
    }
    queue_->drain();
    if (!goOn()) return;
    outstanding_.clear();
    ++batch_;
  }

  bool transferDone(int slot, const QueuedTransfer& t, bool ok) override {
    if (failed_) return false;
    if (!ok) {
      commandError();
      return false;
    }
    if (t.write) return false;
    const uint8_t* data = ctx_->slots[static_cast<size_t>(slot)].buffer.data();
    if (auto bad = checkWorkloadStamps(data, t.lba, t.count)) stampError(t, *bad);
    return false;
  }

  // --- error reports ---

  void fail() { failed_ = true; }

  void currentLoop() { AppendMessage(*ctx_, formatText("Current Loop: %u\r\n", batch_), *box_); }

  int lastErrno() const {
    const CommandOutcome& o = ctx_->lastOutcome;
    if (o.failure == CommandFailure::QueueTimeout) return ETIMEDOUT;
    return o.failure == CommandFailure::Io ? o.io.osErrno : 0;
  }

  void stampError(const QueuedTransfer& t, const StampMismatch& m) {
    Context& c = *ctx_;
    const uint64_t errLba = uint64_t{t.lba} + m.offset;
    AppendMessage(c, "Check Error @ " + job_.title + "\r\n", *box_);
    AppendMessage(c,
                  formatText("Err Stamp LBA: %08X%08X\r\nErr Stamp SN:  %08X\r\nErr sector offset in this read:  %04X\r\n",
                             static_cast<unsigned>(m.foundLba >> 32), static_cast<unsigned>(m.foundLba), m.foundBatch,
                             m.offset),
                  *box_);
    AppendMessage(c,
                  formatText("Curnt Read LBA: %08X%08X\r\nCurnt Read SN:  %08X\r\nCurnt Read SecLen:  %04X\r\n", 0u,
                             t.lba, batch_, t.count),
                  *box_);
    AppendMessage(c, formatText("Error LBA is : %08X%08X\r\n", static_cast<unsigned>(errLba >> 32),
                                static_cast<unsigned>(errLba)),
                  *box_);
    currentLoop();
    fail();
  }

  void commandError() {
    AppendMessage(*ctx_, "SATA command ERROR\r\n", *box_);
    AppendMessage(*ctx_, formatText("Last Error: %d\r\n", lastErrno()), *box_);
    currentLoop();
    fail();
  }

  void queueError() {
    AppendMessage(*ctx_, "Invalid Queue\r\n", *box_);
    AppendMessage(*ctx_, formatText("Last Error: %d\r\n", lastErrno()), *box_);
    currentLoop();
    fail();
  }

  // --- speed report ---

  void openReport() {
    std::string error;
    if (!report_.open(job_.reportDir, plan_.serial, ctx_->clock->localTime(), plan_.sequential, error)) {
      AppendMessage(*ctx_, error + "\r\n", *box_);
      return;
    }
    result_.reportPath = report_.path();
    nextSecond_ = 1;
  }

  // One line for each second that has passed; final: the last part-second too.
  void reportSecond(bool final) {
    tickElapsed();
    if (!report_.isOpen()) return;
    const uint64_t elapsed = static_cast<uint64_t>(elapsedMs.load() / 1000);
    if (!final && elapsed < nextSecond_) return;
    const uint64_t w = written;
    // Whole megabytes of the total, so that the seconds' figures add up to it.
    const uint64_t mb = megabytes(w) - megabytes(reportedSectors_);
    reportedSectors_ = w;
    const uint64_t second = final ? std::max<uint64_t>(elapsed, nextSecond_ - 1) : elapsed;
    if (plan_.sequential) {
      report_.append(speedReportLine(second, static_cast<uint64_t>(curLba), mb));
    } else {
      report_.append(speedReportLine(second, 100.0 * static_cast<double>(w) / static_cast<double>(plan_.totalSectors), mb));
    }
    nextSecond_ = elapsed + 1;
  }

  Context& parent_;
  const WorkloadJob& job_;
  const WorkloadPlan& plan_;
  WorkloadResult& result_;
  RawWriteGuard guard_;
  Context* ctx_ = nullptr;
  MessageSink* box_ = nullptr;
  TestRandom* random_ = nullptr;
  QueuedTransfers* queue_ = nullptr;
  std::vector<uint8_t> randomData_;
  std::array<bool, kQueueSlots> slotNeedsData_{};
  std::vector<std::pair<uint64_t, uint32_t>> outstanding_;
  uint32_t batch_ = 0;
  bool failed_ = false;
  SpeedReport report_;
  uint64_t nextSecond_ = 1;
  uint64_t reportedSectors_ = 0;
};

WorkloadRun::WorkloadRun(Context& parent, WorkloadJob job)
    : parent_(parent), job_(std::move(job)), engine_(std::make_unique<Engine>(parent_, job_, result_)) {}

WorkloadRun::~WorkloadRun() = default;

const WorkloadResult& WorkloadRun::run() {
  result_.refusal = workloadPlanRefusal(job_.plan, job_.drive);
  if (result_.refusal.empty()) {
    engine_->execute();
  } else {
    MessageSink& box = job_.messages ? *job_.messages : parent_.messagePane();
    AppendMessage(parent_, result_.refusal + "\r\n", box);
  }
  MessageSink& box = job_.messages ? *job_.messages : parent_.messagePane();
  AppendMessage(parent_, verdictText() + "\r\n", box);
  finished_ = true;
  return result_;
}

std::string WorkloadRun::verdictText() const { return job_.title + (result_.passed ? " Done" : " Error"); }

std::string WorkloadRun::stateText() {
  std::lock_guard<std::mutex> lock(stateMutex_);
  Engine& e = *engine_;
  if (!finished_) e.tickElapsed();
  const WorkloadPlan& p = job_.plan;
  const uint64_t written = e.written;
  const uint64_t readSectors = e.read;
  const uint64_t cur = e.curLba;
  const uint64_t wrPerSec = megabytes(written - lastWritten_);
  const uint64_t rdPerSec = megabytes(readSectors - lastRead_);
  lastWritten_ = written;
  lastRead_ = readSectors;
  const int64_t s = e.elapsedMs / 1000;
  std::string t;
  if (p.kind == WorkloadKind::RdnSqLoop) {
    static const char* const kSteps[] = {"Step Rsv\r\n", "Step Seq\r\n", "Step Rdn\r\n", "Test Done\r\n", "\r\n"};
    t += kSteps[static_cast<int>(e.step.load())];
    t += formatText("curLBA:  %04X%08X\r\n", static_cast<unsigned>((cur >> 32) & 0xFFFF), static_cast<unsigned>(cur));
    if (p.byTime) {
      t += formatText("Hour: %d, Min: %d, Sec: %d\r\n", static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60),
                      static_cast<int>(s % 60));
    } else {
      t += formatText("Loop Num/Total Loop: %u/%u\r\n", e.loopsDone.load(), p.loops);
    }
    t += formatText("MAX_LBA: %012llX\r\n", static_cast<unsigned long long>(job_.drive.sectorCount() - 1));
    t += formatText("RsvSize: %012llX\r\n", static_cast<unsigned long long>(p.rsvBoundary));
    t += formatText("SeqSize: %012llX\r\n", static_cast<unsigned long long>(p.seqBoundary - p.rsvBoundary));
    t += formatText("RdnSize: %012llX\r\n", static_cast<unsigned long long>(p.rdnBoundary - p.seqBoundary));
    t += formatText("RD/Sec: %llu\r\nWR/Sec: %llu\r\nTotal Rd: %.f\r\nTotal Wr: %.f\r\n",
                    static_cast<unsigned long long>(rdPerSec), static_cast<unsigned long long>(wrPerSec),
                    static_cast<double>(megabytes(readSectors)), static_cast<double>(megabytes(written)));
    return t;
  }
  const bool range = p.kind != WorkloadKind::Jesd219a;
  const uint64_t rangeSize = range ? p.rangeEnd - p.rangeStart : p.totalLba;
  const uint64_t total = range ? p.totalSectors : uint64_t{p.loop} * p.totalLba;
  t += formatText("DlgIndex: %d\r\n", p.rowIndex);
  t += formatText("curLBA:  %012llX\r\n", static_cast<unsigned long long>(cur));
  t += formatText("AccSize: %012llX\r\n", static_cast<unsigned long long>(written));
  t += formatText("Rng_LBA: %012llX\r\n", static_cast<unsigned long long>(rangeSize));
  t += formatText("TtlSize: %012llX\r\n", static_cast<unsigned long long>(total));
  t += formatText("WrtSize: %04X\r\n", range ? p.kb * 2 : 0u);
  t += range && p.sequential ? "Sequential\r\n" : "Random\r\n";
  t += formatText("RD/Sec: %llu MByte\r\nWR/Sec: %llu MByte\r\nTotal Rd: %.f\r\nTotal Wr: %.f\r\n",
                  static_cast<unsigned long long>(rdPerSec), static_cast<unsigned long long>(wrPerSec),
                  static_cast<double>(megabytes(readSectors)), static_cast<double>(megabytes(written)));
  return t;
}

}  // namespace zorv

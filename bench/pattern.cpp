// The data pattern generator's own work per command at 0x80 sectors (64 KiB):
// stamping the pattern (LBA, time, serial) and copying it to the sector
// buffer before the write, filling the buffer with FFh before the read, and
// the compare after it (stamps only, or every byte). Next to it, a whole
// write-read-compare command of the worker on the simulated bay's in-memory
// drive, and the share the generator's work takes of each command: of the
// bay's (whose transfers are memory copies, the worst case) and of a drive
// modelled as the bay's "sata-ssd" (60 us a command, 2000 us a MiB).
//
//   bench_pattern [--benchmark_filter=...] [--benchmark_min_time=0.2]

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "pattern/gen_data.h"
#include "pattern/pattern_data.h"
#include "pattern/pattern_stamp.h"
#include "pattern/pattern_worker.h"
#include "sim/drive_record.h"
#include "support/sim_fixture.h"
#include "transport/aligned_buffer.h"

namespace {

using namespace zorv;

constexpr uint32_t kSectors = 0x80;
constexpr uint32_t kBytes = kSectors * 512;

StampLayout allStamps() { return StampLayout{true, kDefaultStampOffset, true, true, true}; }

// The work of one command outside its two transfers, as the worker does it.
struct CommandWork {
  CommandWork() : pattern(kBytes), buffer(kBytes) {
    fillRepeated(pattern, std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11});
  }
  bool run(CompareKind compare) {
    std::tm now = clock.localTime();
    serial = stampSectors(pattern.data(), kSectors, 512, layout, lba, serial, stampTimeDigits(now)) - kSectors;
    std::memcpy(buffer.data(), pattern.data(), kBytes);
    // (write: the sector buffer goes to the drive)
    std::memset(buffer.data(), 0xFF, kBytes);
    std::memcpy(buffer.data(), pattern.data(), kBytes);  // stands for the read's data arriving
    bool bad = compare == CompareKind::Total
                   ? std::memcmp(buffer.data(), pattern.data(), kBytes) != 0
                   : checkStamps(buffer.data(), kSectors, 512, layout, lba, serial).has_value();
    serial += kSectors;
    lba += kSectors;
    return bad;
  }
  SystemClock clock;
  StampLayout layout = allStamps();
  std::vector<uint8_t> pattern;
  AlignedBuffer buffer;
  uint64_t lba = 0x1000;
  uint32_t serial = 0;
};

// The stand-in read copy is not the generator's work: measured to take it out.
double copyNs() {
  AlignedBuffer a(kBytes), b(kBytes);
  constexpr int kRounds = 2000;
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < kRounds; ++i) {
    std::memcpy(b.data(), a.data(), kBytes);
    benchmark::DoNotOptimize(b.data());
  }
  return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count() / kRounds;
}

double commandWorkNs(CompareKind compare) {
  CommandWork w;
  constexpr int kRounds = 2000;
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < kRounds; ++i) benchmark::DoNotOptimize(w.run(compare));
  double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count() / kRounds;
  return ns - copyNs();
}

void BM_CommandWork(benchmark::State& state) {
  const auto compare = static_cast<CompareKind>(state.range(0));
  CommandWork w;
  for (auto _ : state) benchmark::DoNotOptimize(w.run(compare));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBytes);
  state.SetLabel(compare == CompareKind::Total ? "Total Compare" : "Simple Compare");
}
BENCHMARK(BM_CommandWork)->Arg(int(CompareKind::Simple))->Arg(int(CompareKind::Total));

// Whole commands on the bay: write, read back, compare, through the
// transport (READ/WRITE DMA EXT) and the simulated SATA drive.
void BM_BayCommand(benchmark::State& state) {
  const auto compare = static_cast<CompareKind>(state.range(0));
  test::SimFixture sim(0);
  if (!sim.ok()) {
    state.SkipWithError(sim.error.c_str());
    return;
  }
  SystemClock clock;  // real time stamps, as in a run
  sim.ctx().clock = &clock;
  std::string error;
  sim.bay->setLatency(0, *sim::namedLatency("fast"), error);
  CGenData tab;
  const DriveEntry& d = sim.ctx().selectedDrive();
  tab.initialise(d.sectorCount(), d.usSectorSize);
  tab.controls.kind = PatternKind::Random;
  tab.genData(1);
  CGenData::RunSetup setup = tab.runParameters();
  PatternRunParams p = setup.params;
  p.startLba = 0;
  p.endLba = 0x100000;  // 512 MiB: written pages are reused over the rounds
  p.loop = 0x7FFFFFFF;
  p.loopKind = LoopKind::Command;
  p.command = PatternCommand::DmaExt;
  p.compare = compare;
  p.stamps = allStamps();
  p.disableMessage = true;
  p.saveLog = false;

  constexpr uint32_t kCommandsPerRound = 256;
  NullSink box;
  uint64_t commands = 0;
  double seconds = 0;
  for (auto _ : state) {
    p.loop = kCommandsPerRound;
    PatternJob job;
    job.params = p;
    job.drive = d;
    job.messages = &box;
    sim.ctx().fgBusy = 1;
    auto t0 = std::chrono::steady_clock::now();
    PatternResult r = PatternWorker(sim.ctx(), job);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    commands += r.commands;
    if (!r.passed()) state.SkipWithError("the run found errors");
  }
  const double perCommandNs = seconds * 1e9 / static_cast<double>(commands);
  const double workNs = commandWorkNs(compare);
  // Two transfers of 64 KiB on the "sata-ssd" model: 2 x (60 us + 64 KiB x 2000 us / MiB).
  const double modelledTransferNs = 2 * (60e3 + 2000e3 * kBytes / (1 << 20));
  state.counters["ns_per_command"] = perCommandNs;
  state.counters["work_ns"] = workNs;
  state.counters["work_share_bay"] = workNs / perCommandNs;
  state.counters["work_share_sata_ssd"] = workNs / (modelledTransferNs + workNs);
  state.SetLabel(compare == CompareKind::Total ? "Total Compare" : "Simple Compare");
}
BENCHMARK(BM_BayCommand)->Arg(int(CompareKind::Simple))->Arg(int(CompareKind::Total))->Iterations(8);

}  // namespace

BENCHMARK_MAIN();

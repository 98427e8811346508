// READ(10) through the transport against a simulated drive: plain commands
// (queue depth 1) and the 16-slot queue at depth 1 and 16, 4 KiB and 128 KiB,
// on sparse in-memory media and on a real file read with O_DIRECT + io_uring.
// After the benchmarks, fio runs the same workload on the same file and the
// file-backed figures are printed as a ratio of fio's.
//
//   bench_transport_read [--file-mib N] [google benchmark flags]

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "support/sim_fixture.h"
#include "transport/ncq_queue.h"
#include "transport/scsi_command.h"

namespace {

using zorv::test::SimFixture;

constexpr uint32_t kRegionSectors = 256u * 2048;  // 256 MiB of the drive is cycled through
std::string gMediaFile;
uint64_t gMediaSectors = 0;
std::map<std::string, double> gFileMBps;  // "bs/qd/mode" -> MB/s on file media

std::unique_ptr<SimFixture> makeDrive(bool fileMedia) {
  if (!fileMedia) return std::make_unique<SimFixture>(0);
  zorv::sim::BayRecord record = zorv::sim::SimBay::defaultBay();
  record.slots[0].drive->media.kind = zorv::sim::MediaKind::File;
  record.slots[0].drive->media.path = gMediaFile;
  record.slots[0].drive->identity.capacity = gMediaSectors;
  return std::make_unique<SimFixture>(record, 0);
}

// state.range(0): KiB per command, range(1): queue depth (0 = plain), range(2): file media.
void BM_Read10(benchmark::State& state) {
  uint32_t sectors = static_cast<uint32_t>(state.range(0)) * 2;
  int depth = static_cast<int>(state.range(1));
  bool fileMedia = state.range(2) != 0;
  auto sim = makeDrive(fileMedia);
  if (!sim->ok()) {
    state.SkipWithError(sim->error.c_str());
    return;
  }
  zorv::Context& ctx = sim->ctx();
  uint32_t lba = 0;
  uint32_t region = fileMedia ? static_cast<uint32_t>(gMediaSectors) : kRegionSectors;
  auto next = [&] {
    uint32_t l = lba;
    lba = (lba + sectors) % region;
    return l;
  };
  if (depth > 0) zorv::InitQueue(ctx);
  int inFlight = 0;
  for (auto _ : state) {
    if (depth == 0) {
      if (!zorv::ReadBlocks(ctx, next(), sectors, false)) state.SkipWithError("read failed");
      continue;
    }
    // Keep `depth` transfers outstanding: acquire a slot (collecting one
    // completion once the pipe is full) and issue the next read on it.
    int slot = zorv::AcquireSlot(ctx);
    if (inFlight < depth) ++inFlight;
    if (depth < zorv::kQueueSlots && inFlight == depth) {
      // With fewer than 16 outstanding, wait for the oldest before reusing.
      while (ctx.port->pollSlot((slot + zorv::kQueueSlots - depth) % zorv::kQueueSlots) ==
             zorv::SlotState::InFlight) {
      }
    }
    if (!zorv::QueueRead(ctx, slot, next(), sectors)) state.SkipWithError("queued read failed");
  }
  if (depth > 0) zorv::CloseQueue(ctx);
  int64_t bytes = static_cast<int64_t>(state.iterations()) * sectors * 512;
  state.SetBytesProcessed(bytes);
  state.SetItemsProcessed(state.iterations());
  state.counters["commands/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["MB/s"] = benchmark::Counter(static_cast<double>(bytes) / 1e6, benchmark::Counter::kIsRate);
}

void args(benchmark::internal::Benchmark* b) {
  for (int media : {0, 1})
    for (int kib : {4, 128})
      for (int depth : {0, 1, 16}) b->Args({kib, depth, media});
  b->ArgNames({"KiB", "qd", "file"})->UseRealTime()->MinTime(1.0);
}
BENCHMARK(BM_Read10)->Apply(args);

class Collect : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      auto it = r.counters.find("MB/s");
      if (it == r.counters.end() || r.benchmark_name().find("file:1") == std::string::npos) continue;
      gFileMBps[r.benchmark_name()] = it->second.value;
    }
  }
};

double fioMBps(int kib, int depth) {
  std::string cmd = "fio --name=zorv --filename=" + gMediaFile +
                    " --rw=read --direct=1 --ioengine=io_uring --time_based --runtime=2"
                    " --bs=" + std::to_string(kib) + "k --iodepth=" + std::to_string(depth) +
                    " --output-format=terse --terse-version=3 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return 0;
  char line[8192];
  std::string out;
  while (fgets(line, sizeof line, p)) out += line;
  pclose(p);
  // Terse v3: field 7 is the read bandwidth in KiB/s.
  size_t pos = 0;
  for (int field = 0; field < 6 && pos != std::string::npos; ++field) pos = out.find(';', pos + 1);
  if (pos == std::string::npos) return 0;
  return std::atof(out.c_str() + pos + 1) * 1024 / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  int fileMiB = 256;
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::string(argv[i]) == "--file-mib" && i + 1 < argc) {
      fileMiB = std::atoi(argv[++i]);
      continue;
    }
    rest.push_back(argv[i]);
  }
  char tmpl[] = "/var/tmp/zorv-bench-media-XXXXXX";
  int fd = mkstemp(tmpl);
  if (fd < 0) return 1;
  gMediaFile = tmpl;
  // Real blocks, not holes, so both readers touch the same allocated data.
  std::vector<char> chunk(1 << 20, 0x5A);
  for (int i = 0; i < fileMiB; ++i)
    if (write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) return 1;
  fsync(fd);
  gMediaSectors = uint64_t(fileMiB) * 2048;
  close(fd);

  int n = static_cast<int>(rest.size());
  benchmark::Initialize(&n, rest.data());
  Collect reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\nFile media vs fio (io_uring, O_DIRECT, sequential read, same file):\n");
  std::printf("%-32s %10s %10s %7s\n", "workload", "zorv MB/s", "fio MB/s", "ratio");
  for (const auto& [name, mbps] : gFileMBps) {
    int kib = name.find("KiB:128") != std::string::npos ? 128 : 4;
    int depth = name.find("qd:16") != std::string::npos ? 16 : 1;
    double fio = fioMBps(kib, depth);
    std::printf("%-32s %10.1f %10.1f %7.2f\n", name.c_str(), mbps, fio, fio > 0 ? mbps / fio : 0.0);
  }
  unlink(gMediaFile.c_str());
  return 0;
}

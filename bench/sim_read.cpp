// What a 128 KiB read from a simulated drive costs, next to the memcpy it
// should cost about as much as: through the port (the backend alone) and
// through the transport (READ(10) on SATA, READ DMA EXT on SATA, the same
// behind the USB bridge), on in-memory (sparse) media.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "sim/sim_bay.h"
#include "sim/sim_port.h"
#include "transport/ata_command.h"
#include "transport/context.h"
#include "transport/scsi_command.h"

namespace {

using namespace zorv;

constexpr uint32_t kSectors = 256;  // 128 KiB

struct Bench {
  explicit Bench(int slot) {
    std::string base = (std::filesystem::temp_directory_path() / "zorv-bench-XXXXXX").string();
    dir = ::mkdtemp(base.data());
    std::string error;
    bay = sim::SimBay::open(dir, error, {&clock});
    port = sim::makeSimPort(bay);
    ctx = std::make_unique<Context>(*port, ui, clock, pane);
    auto c = bay->controller(slot);
    ctx->DriveTable[0].strDevicePath = "sim:" + std::to_string(slot);
    ctx->DriveTable[0].ucBusType = storageBusType(c->bus());
    ctx->ucDriveCount = 1;
    ctx->ucSelDrive = 0;
    ctx->fgFamilyDrive = 1;
    // Written data, so the reads copy pages that exist.
    std::memset(ctx->SectorBuffer.data(), 0x5A, kSectors * 512);
    for (uint32_t lba = 0; lba < 64 * kSectors; lba += kSectors) WriteBlocks(*ctx, lba, kSectors, 512);
  }
  ~Bench() {
    ctx.reset();
    port.reset();
    bay.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  static uint8_t storageBusType(sim::SimBus bus) { return sim::storageBusType(bus); }

  std::string dir;
  ManualClock clock;
  SilentUserInterface ui;
  NullSink pane;
  std::shared_ptr<sim::SimBay> bay;
  std::unique_ptr<DevicePort> port;
  std::unique_ptr<Context> ctx;
};

void BM_Memcpy128K(benchmark::State& state) {
  std::vector<uint8_t> from(kSectors * 512 * 64, 0x5A), to(kSectors * 512);
  size_t i = 0;
  for (auto _ : state) {
    std::memcpy(to.data(), from.data() + (i++ % 64) * to.size(), to.size());
    benchmark::DoNotOptimize(to.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSectors * 512);
}

void BM_PortRead10(benchmark::State& state) {
  Bench b(0);
  ScsiRequest r;
  uint32_t i = 0;
  for (auto _ : state) {
    uint32_t lba = (i++ % 64) * kSectors;
    r.cdbLength = 10;
    r.dataIn = kScsiDataIn;
    r.dataTransferLength = kSectors * 512;
    r.dataBuffer = b.ctx->SectorBuffer.data();
    r.cdb = {0x28, 0, static_cast<uint8_t>(lba >> 24), static_cast<uint8_t>(lba >> 16), static_cast<uint8_t>(lba >> 8),
             static_cast<uint8_t>(lba), 0, kSectors >> 8, kSectors & 0xFF, 0};
    b.port->scsiPassThrough("sim:0", r);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSectors * 512);
}

void BM_ReadBlocks(benchmark::State& state) {
  Bench b(static_cast<int>(state.range(0)));
  uint32_t i = 0;
  for (auto _ : state) ReadBlocks(*b.ctx, (i++ % 64) * kSectors, kSectors, false);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSectors * 512);
}

void BM_ReadDmaExt(benchmark::State& state) {
  Bench b(static_cast<int>(state.range(0)));
  uint32_t i = 0;
  for (auto _ : state) {
    uint32_t lba = (i++ % 64) * kSectors;
    AtaTaskFile tf;
    tf.ucCommand = 0x25;
    tf.ucDevice = 0x40;
    tf.ucCount = 128;  // the bridge's limit: 64 KiB
    tf.ucLbaLow = static_cast<uint8_t>(lba);
    tf.ucLbaMid = static_cast<uint8_t>(lba >> 8);
    tf.ucLbaHigh = static_cast<uint8_t>(lba >> 16);
    SendAtaCommand(*b.ctx, false, tf, true, 128 * 512);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 128 * 512);
}

}  // namespace

BENCHMARK(BM_Memcpy128K);
BENCHMARK(BM_PortRead10);
BENCHMARK(BM_ReadBlocks)->Arg(0)->Arg(1);   // SATA, USB
BENCHMARK(BM_ReadDmaExt)->Arg(0)->Arg(1);  // 64 KiB: SATA register image, USB SAT CDB
BENCHMARK_MAIN();

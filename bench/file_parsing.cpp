// Files per second of the parsing runs: run logs into report rows and SPI
// flash images into OBB record rows, from files on disk (read + parse +
// record file) and from memory (parse alone), at 100, 1,000 and 10,000
// files. Time per file should stay flat as the count grows, and the disk
// runs should be bound by reading the files rather than by parsing them.
//
//   bench_file_parsing [--benchmark_filter=...]

#include <benchmark/benchmark.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "analysis/file_parsing.h"
#include "diagnostics/info_ssd.h"
#include "diagnostics/report.h"
#include "diagnostics/smart.h"
#include "support/sim_fixture.h"

namespace {

namespace fs = std::filesystem;
namespace an = zorv::analysis;

std::string runLogText(int n) {
  std::array<uint8_t, 512> info{};
  for (size_t i = 0; i < info.size(); ++i) info[i] = static_cast<uint8_t>(i * 7 + n);
  std::array<uint8_t, 512> smart{};
  const uint8_t temp[12] = {0xC2, 0x22, 0x00, 0x2A, 0x3C, 0x2A, 0, 0, 0, 0, 0, 0};
  std::copy(temp, temp + 12, smart.begin() + 2);
  smart[511] = zorv::smartChecksum(smart);
  return "ORBENNEPA256 SN" + std::to_string(n) + " 238G SATA\r\n" +
         zorv::DecodeInfoSsdFields(zorv::InfoSsdRecord(info), 0) + zorv::DecodeSmartData(smart);
}

std::string spiArea(int n) {
  std::string area(an::ObbLayoutOf(an::ObbProduct::Pallo).areaEnd(), '\xFF');
  for (size_t i = 0x300; i < area.size(); ++i) area[i] = static_cast<char>((i * 31 + static_cast<size_t>(n)) & 0x3F);
  return area;
}

// A directory of `count` run logs and `count` 64 KiB SPI images (the record
// area written, the rest a hole), made once per count.
struct Corpus {
  zorv::test::TempDir dir;
  std::vector<fs::path> logs;
  std::vector<fs::path> images;
  explicit Corpus(int count) {
    for (int i = 0; i < count; ++i) {
      fs::path log = fs::path(dir.path()) / ("InfoDumpLog" + std::to_string(1000000000 + i) + ".txt");
      std::ofstream(log, std::ios::binary) << runLogText(i);
      logs.push_back(log);
      fs::path image = fs::path(dir.path()) / ("SpiDmp_" + std::to_string(i) + ".bin");
      std::ofstream(image, std::ios::binary) << spiArea(i);
      fs::resize_file(image, 64 * 1024);
      images.push_back(image);
    }
  }
};

Corpus& corpus(int count) {
  static std::map<int, std::unique_ptr<Corpus>> made;
  auto& c = made[count];
  if (!c) c = std::make_unique<Corpus>(count);
  return *c;
}

void BM_RunLogFiles(benchmark::State& state) {
  Corpus& c = corpus(static_cast<int>(state.range(0)));
  fs::path csv = fs::path(c.dir.path()) / "report.csv";
  for (auto _ : state) {
    fs::remove(csv);
    an::ParseOutcome out = an::ParseDevInfoFiles(c.logs, csv);
    benchmark::DoNotOptimize(out.listText.data());
  }
  state.counters["files/s"] = benchmark::Counter(static_cast<double>(state.iterations() * state.range(0)),
                                                 benchmark::Counter::kIsRate);
}

void BM_SpiImageFiles(benchmark::State& state) {
  Corpus& c = corpus(static_cast<int>(state.range(0)));
  fs::path csv = fs::path(c.dir.path()) / "record.csv";
  for (auto _ : state) {
    fs::remove(csv);
    an::ParseOutcome out = an::ParseSpiFiles(an::ObbProduct::Pallo, c.images, csv);
    benchmark::DoNotOptimize(out.listText.data());
  }
  state.counters["files/s"] = benchmark::Counter(static_cast<double>(state.iterations() * state.range(0)),
                                                 benchmark::Counter::kIsRate);
}

void BM_RunLogParseOnly(benchmark::State& state) {
  const std::string text = runLogText(1);
  for (auto _ : state) {
    for (int64_t i = 0; i < state.range(0); ++i)
      benchmark::DoNotOptimize(zorv::BuildReportValues("InfoDumpLog1210093015.txt", text, 0));
  }
  state.counters["files/s"] = benchmark::Counter(static_cast<double>(state.iterations() * state.range(0)),
                                                 benchmark::Counter::kIsRate);
}

void BM_SpiImageParseOnly(benchmark::State& state) {
  const std::string area = spiArea(1);
  auto bytes = std::span(reinterpret_cast<const uint8_t*>(area.data()), area.size());
  for (auto _ : state) {
    for (int64_t i = 0; i < state.range(0); ++i)
      benchmark::DoNotOptimize(an::ObbRowValues(an::ObbProduct::Pallo, bytes));
  }
  state.counters["files/s"] = benchmark::Counter(static_cast<double>(state.iterations() * state.range(0)),
                                                 benchmark::Counter::kIsRate);
}

BENCHMARK(BM_RunLogFiles)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SpiImageFiles)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RunLogParseOnly)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpiImageParseOnly)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

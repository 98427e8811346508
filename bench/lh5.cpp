// lh5 decode throughput, ours against liblhasa, and our encoder's sizes
// against the streams that LHA tools made of the same input.
//
//   bench_lh5 [--benchmark_filter=...]
// Sizes are reported as counters: "bytes" is our stream, "reference" the
// independent tool's.

#include <benchmark/benchmark.h>
#include <lha_decoder.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "firmware/image_maker.h"
#include "firmware/lh5/decoder.h"
#include "firmware/lh5/encoder.h"

namespace {

std::vector<uint8_t> readFixture(const std::string& name) {
  std::ifstream f(std::string(ZORV_FIXTURES_DIR) + "/lh5/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

struct Source {
  const std::vector<uint8_t>* data;
  size_t pos;
};

size_t readCallback(void* buf, size_t len, void* user) {
  auto* s = static_cast<Source*>(user);
  size_t n = std::min(len, s->data->size() - s->pos);
  std::memcpy(buf, s->data->data() + s->pos, n);
  s->pos += n;
  return n;
}

size_t lhasaDecode(const std::vector<uint8_t>& stream, std::vector<uint8_t>& out) {
  char name[] = "-lh5-";
  Source src{&stream, 0};
  LHADecoder* d = lha_decoder_new(lha_decoder_for_name(name), readCallback, &src, out.size());
  size_t got = 0;
  while (got < out.size()) {
    size_t n = lha_decoder_read(d, out.data() + got, out.size() - got);
    if (n == 0) break;
    got += n;
  }
  lha_decoder_free(d);
  return got;
}

// A 4 MiB firmware-like image and our stream of it.
struct FirmwareCase {
  std::vector<uint8_t> image;
  std::vector<uint8_t> stream;
  FirmwareCase() {
    zorv::firmware::ImageSpec recipe;
    recipe.usModelClass = 1;
    recipe.hwid.assign(16, 0x3C);
    recipe.version = "BENCH1";
    recipe.size = size_t{4} << 20;
    image = zorv::firmware::makeImage(recipe).image;
    stream = zorv::lh5::encode(image);
  }
};

const FirmwareCase& firmware() {
  static FirmwareCase c;
  return c;
}

struct Input {
  std::vector<uint8_t> stream;
  size_t size;
};

Input input(const std::string& which) {
  if (which == "firmware4M") return {firmware().stream, firmware().image.size()};
  return {readFixture(which + ".lh5"), readFixture(which + ".out").size()};
}

void decodeOurs(benchmark::State& state, const std::string& which) {
  Input in = input(which);
  std::vector<uint8_t> out(in.size);
  zorv::lh5::Decoder decoder;
  for (auto _ : state) {
    auto r = decoder.decode(in.stream, out);
    if (!r.ok()) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size));
}

void decodeLhasa(benchmark::State& state, const std::string& which) {
  Input in = input(which);
  std::vector<uint8_t> out(in.size);
  for (auto _ : state) {
    if (lhasaDecode(in.stream, out) != in.size) state.SkipWithError("liblhasa decode failed");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size));
}

void encodeSize(benchmark::State& state, const std::string& which) {
  std::vector<uint8_t> text;
  size_t reference = 0;
  if (which == "firmware4M") {
    text = firmware().image;
  } else {
    text = readFixture(which + ".out");
    reference = readFixture(which + ".lh5").size();
  }
  size_t size = 0;
  for (auto _ : state) size = zorv::lh5::encode(text).size();
  state.counters["bytes"] = static_cast<double>(size);
  if (reference) state.counters["reference"] = static_cast<double>(reference);
  state.counters["ratio"] = static_cast<double>(size) / static_cast<double>(text.size());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

BENCHMARK_CAPTURE(decodeOurs, dos_lha213_long, std::string("dos_lha213_long"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decodeLhasa, dos_lha213_long, std::string("dos_lha213_long"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decodeOurs, firmware4M, std::string("firmware4M"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decodeLhasa, firmware4M, std::string("firmware4M"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decodeOurs, fw_jlha, std::string("fw_jlha"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decodeLhasa, fw_jlha, std::string("fw_jlha"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encodeSize, dos_lha213, std::string("dos_lha213"))->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(encodeSize, dos_lha213_long, std::string("dos_lha213_long"))->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(encodeSize, fw_jlha, std::string("fw_jlha"))->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(encodeSize, firmware4M, std::string("firmware4M"))->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

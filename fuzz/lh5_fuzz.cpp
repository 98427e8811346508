// libFuzzer target: any bytes as an lh5 stream. The decoder must stop at the
// end of its output or its input, whatever the stream's tables say.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "firmware/lh5/decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first two bytes choose the output size, so that streams that run out
  // of output space and streams that run out of input are both reached.
  if (size < 2) return 0;
  static std::array<uint8_t, 1 << 16> out;
  size_t outSize = (size_t{data[0]} << 8 | data[1]) + 1;
  zorv::lh5::DecodeResult r = zorv::lh5::decode(std::span<const uint8_t>(data + 2, size - 2),
                                                std::span<uint8_t>(out.data(), outSize));
  (void)zorv::lh5::describe(r.status);
  return 0;
}

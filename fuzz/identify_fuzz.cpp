// libFuzzer target: any bytes as two saved IDENTIFY files (the first and
// second half of the input), through the single view, the comparison and the
// integrity check. Short files are the common case: files are read as they are.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "identify/identify_table.h"
#include "identify/identify_view.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zorv;
  size_t half = size / 2;
  IdentifyWords first = identifyWordsFromBytes(data, half);
  IdentifyWords second = identifyWordsFromBytes(data + half, size - half);
  (void)identifySingleRows(first);
  (void)identifyDifferences(identifyCompareRows(first, second));
  std::array<uint8_t, 512> block{};
  std::memcpy(block.data(), data, std::min(size, block.size()));
  (void)identifyIntegrityText(block);
  return 0;
}

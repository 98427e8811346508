#include "mediatest/test_random.h"

namespace zorv {

uint32_t randomBlockCount(TestRandom& random, uint32_t blocks) {
  uint32_t r = random.next();
  if (blocks == 0) return 1;
  uint32_t count = static_cast<uint32_t>(scaledDraw(r, blocks) % blocks);
  return count == 0 ? 1 : count;
}

}  // namespace zorv

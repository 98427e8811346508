// Block transfers on the simulated drive allocate nothing: the media test
// loops measure the drive, not the heap. Global operator new counts what the
// calling thread allocates while counting is on.

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "sim_test_util.h"
#include "transport/ncq_queue.h"

namespace {

thread_local bool counting = false;
thread_local int allocations = 0;

void* allocate(std::size_t n) {
  if (counting) ++allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace zorv {
namespace {

TEST(SimHotPath, TransfersAllocateNothing) {
  for (int slot : {0, 1}) {
    test::SimFixture sim(slot);
    ASSERT_TRUE(sim.ok()) << sim.error;
    Context& ctx = sim.ctx();
    ASSERT_TRUE(InitQueue(ctx));
    ASSERT_TRUE(ReadBlocks(ctx, 0, 256, false));  // first use
    counting = true;
    allocations = 0;
    bool ok = true;
    for (uint32_t i = 0; i < 64; ++i) {
      ok = ok && WriteBlocks(ctx, i * 256, 256, 512) && ReadBlocks(ctx, i * 256, 256, false) &&
           WriteBlocks12(ctx, 64, i * 64, false) && TestUnitReady(ctx);
      AtaTaskFile tf = test::dmaExt(false, i * 128, 128);
      ok = ok && SendAtaCommand(ctx, false, tf, true, 128 * 512);
      int s = AcquireSlot(ctx);
      ok = ok && QueueRead(ctx, s, i * 256, 256);
    }
    for (int i = 0; i < kQueueSlots; ++i) AcquireSlot(ctx);
    counting = false;
    EXPECT_TRUE(ok) << slot;
    EXPECT_EQ(allocations, 0) << "slot " << slot;
    CloseQueue(ctx);
  }
}

}  // namespace
}  // namespace zorv

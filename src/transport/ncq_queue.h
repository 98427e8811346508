#pragma once
// The 16-slot queue (NCQ): up to 16 READ(10)/WRITE(10) transfers outstanding
// on the selected drive, each slot with its own request and 1 MiB buffer so
// that nothing is copied or allocated per transfer. Completion is collected
// by polling the slots in ring order, waiting on the backend while all 16 are
// in flight.

#include <cstdint>

#include "transport/scsi_command.h"

namespace zorv {

struct Context;

bool InitQueue(Context& ctx);
// Returns a slot whose transfer has completed (or that never carried one),
// starting at the ring position; it becomes the current slot, and a failed
// completion's sense is in LastSense. While all 16 are in flight it waits for
// the next completion; it gives up with kNoSlot when fgStopRequest is set or
// when nothing completes within the transfers' time-out (lastOutcome says
// which).
int AcquireSlot(Context& ctx);
bool QueueRead(Context& ctx, int slot, uint32_t lba, uint32_t count);
// Stamps count blocks from lba into the slot buffer, then writes them.
bool QueueWrite(Context& ctx, int slot, uint32_t lba, uint32_t count);
// Writes count blocks from the slot buffer as the caller filled it (a
// workload with a stamp format of its own).
bool QueueWriteFilled(Context& ctx, int slot, uint32_t lba, uint32_t count);
// Waits for the outstanding transfers and closes the queue; after a stop
// request or an acquisition that timed out it lets them go instead.
void CloseQueue(Context& ctx);

}  // namespace zorv

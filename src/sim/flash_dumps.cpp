// Hook family "flash dumps" of the simulated controller: F7h SPI flash read/write/save, FTL layout and block information dumps.
// Not answered yet: every command falls through to the controller's own
// handling (see vendor_hooks.h for the contract).

#include "sim/sim_drive.h"
#include "sim/vendor_hooks.h"

namespace zorv::sim {

const HookFamily kFlashDumpHooks{"flash dumps", nullptr, nullptr, nullptr};

}  // namespace zorv::sim

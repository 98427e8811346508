// Hook family "smart" of the simulated controller: SMART (B0h): READ DATA and the attribute table.
// Not answered yet: every command falls through to the controller's own
// handling (see vendor_hooks.h for the contract).

#include "sim/sim_drive.h"
#include "sim/vendor_hooks.h"

namespace zorv::sim {

const HookFamily kSmartHooks{"smart", nullptr, nullptr, nullptr};

}  // namespace zorv::sim

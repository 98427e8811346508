// Hook family "microcode" of the simulated controller: DOWNLOAD MICROCODE (92h, 93h): image checks, activation and the restart.
// Not answered yet: every command falls through to the controller's own
// handling (see vendor_hooks.h for the contract).

#include "sim/sim_drive.h"
#include "sim/vendor_hooks.h"

namespace zorv::sim {

const HookFamily kMicrocodeHooks{"microcode", nullptr, nullptr, nullptr};

}  // namespace zorv::sim

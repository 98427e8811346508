// Hook family "max address" of the simulated controller: ACCESSIBLE MAX ADDRESS CONFIGURATION (78h) and the older 27h/37h.
// Not answered yet: every command falls through to the controller's own
// handling (see vendor_hooks.h for the contract).

#include "sim/sim_drive.h"
#include "sim/vendor_hooks.h"

namespace zorv::sim {

const HookFamily kMaxAddressHooks{"max address", nullptr, nullptr, nullptr};

}  // namespace zorv::sim

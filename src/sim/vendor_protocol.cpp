// Hook family "vendor protocol" of the simulated controller: the 512-byte vendor command sector over WRITE BUFFER (E8h) / READ BUFFER (E4h), the remaining F7h codes and SCSI F3h.
// Not answered yet: every command falls through to the controller's own
// handling (see vendor_hooks.h for the contract).

#include "sim/sim_drive.h"
#include "sim/vendor_hooks.h"

namespace zorv::sim {

const HookFamily kVendorProtocolHooks{"vendor protocol", nullptr, nullptr, nullptr};

}  // namespace zorv::sim

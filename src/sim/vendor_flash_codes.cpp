// Vendor codes of the flash organisation: FTL layout and lookups (31h), block
// information (32h), plane information (33h), flash ID (38h), flash check
// (39h), memory and SPI dumps (50h, 52h), restore (51h, 55h) and the
// diagnostic dump (57h). Not answered yet: the codes get the reply of an
// unknown code.

#include "sim/vendor_protocol.h"

namespace zorv::sim {

const VendorCodeFamily kVendorFlashCodes{"flash", nullptr, nullptr};

}  // namespace zorv::sim

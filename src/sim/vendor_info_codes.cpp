// Vendor codes of the drive's identity and upkeep: the Info SSD record (30h),
// the UDATA initialisations (56h 01h all, 02h security, 03h SMART), the
// pre-reboot requests (80h, 81h) and disabling idle garbage collection (EBh).
//
// State: drive.vendorState()["upkeep"] = { "securityInits": n,
//   "preReboot": "80/00" (last code/parameter), "idleGc": bool }.

#include "sim/sim_drive.h"
#include "sim/vendor_model.h"
#include "sim/vendor_protocol.h"

namespace zorv::sim {

namespace {

nlohmann::json& upkeep(SimDrive& drive) {
  nlohmann::json& v = drive.vendorState();
  if (!v.contains("upkeep") || !v["upkeep"].is_object()) v["upkeep"] = nlohmann::json::object();
  return v["upkeep"];
}

void countSecurityInit(SimDrive& drive) {
  nlohmann::json& u = upkeep(drive);
  uint64_t n = u.contains("securityInits") && u["securityInits"].is_number_unsigned() ? u["securityInits"].get<uint64_t>() : 0;
  u["securityInits"] = n + 1;
}

bool command(SimDrive& drive, const VendorSector& sector, VendorReply& reply) {
  switch (sector.code()) {
    case 0x30: {
      SectorBytes record = infoSsdRecord(drive);
      reply.append(record);
      return true;
    }
    case 0x56:
      switch (sector.parameter()) {
        case 0x01:
          countSecurityInit(drive);
          clearSmart(drive);  // saves the vendor state
          return true;
        case 0x02:
          countSecurityInit(drive);
          drive.saveVendorState();
          return true;
        case 0x03:
          clearSmart(drive);
          return true;
        default:
          reply.reject = true;
          return true;
      }
    case 0x80:
    case 0x81: {
      char text[8];
      std::snprintf(text, sizeof text, "%02X/%02X", sector.code(), sector.parameter());
      upkeep(drive)["preReboot"] = text;
      drive.saveVendorState();
      return true;
    }
    case 0xEB:
      upkeep(drive)["idleGc"] = false;
      drive.saveVendorState();
      return true;
    default:
      return false;
  }
}

}  // namespace

const VendorCodeFamily kVendorInfoCodes{"info", &command, nullptr};

}  // namespace zorv::sim

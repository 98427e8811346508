#include "transport/drive_table.h"

namespace zorv {

std::string_view busDisplayName(uint8_t busType) {
  switch (busType) {
    case kBusScsi: return " SCSI";
    case kBusAtapi: return " ATAPI";
    case kBusAta: return " ATA";
    case kBusUsb: return " USB";
    case kBusRaid: return " RAID";
    case kBusSata: return " SATA";
    default: return "";
  }
}

}  // namespace zorv

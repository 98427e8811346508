#pragma once
// The simulated drive bay as a device backend. Physical drive n is the path
// "sim:n", the drive plugged into slot n.
//
// It carries requests exactly as the OS backend does: the ATA path receives
// the register image (drives on SATA/ATA; a USB drive refuses it as the OS
// would), the SCSI path receives CDBs (ATA PASS-THROUGH goes through the SAT
// bridge), and the 16 queue slots complete asynchronously: in-memory media
// when the drive's latency model says the transfer is done, file media when
// io_uring reports the O_DIRECT transfer done. Time-outs and latencies are
// spent on the bay's clock (a ManualClock in tests: nothing really waits).

#include <memory>
#include <string>

#include "transport/device_port.h"

namespace zorv::sim {

class SimBay;

// Opens the bay stored in dir (creating the default bay when dir does not
// exist). nullptr with error set when the bay cannot be used.
std::unique_ptr<DevicePort> openSimPort(const std::string& dir, std::string& error);

// A port on a bay the caller keeps (to inject faults, plug drives, ...).
std::unique_ptr<DevicePort> makeSimPort(std::shared_ptr<SimBay> bay);

// The slot of a "sim:n" path; -1 for any other path.
int simSlotOfPath(const std::string& path);

}  // namespace zorv::sim

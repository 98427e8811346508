#include "transport/context.h"

namespace zorv {

Context::Context(DevicePort& p, UserInterface& u, Clock& c, MessageSink& pane)
    : port(&p), ui(&u), clock(&c), fgStopRequest(ownStopRequest_), pane_(&pane) {}

Context::Context(const Context& parent, const DriveEntry& drive, MessageSink& pane, std::atomic<uint8_t>& stop)
    : port(parent.port), ui(parent.ui), clock(parent.clock), fgStopRequest(stop), pane_(&pane) {
  DriveTable[0] = drive;
  ucDriveCount = 1;
  ucSelDrive = 0;
  fgFamilyDrive = parent.fgFamilyDrive;
  fgVendorCdbEnable = parent.fgVendorCdbEnable;
  usTimeoutShort = parent.usTimeoutShort;
  usTimeoutMid = parent.usTimeoutMid;
  usTimeoutLong = parent.usTimeoutLong;
  _fgNCQEnable = parent._fgNCQEnable;
  fgReadVerify = parent.fgReadVerify;
  fgCdbTag = parent.fgCdbTag;
  ucBrandFirst = parent.ucBrandFirst;
  ucBrandEnd = parent.ucBrandEnd;
  fgSkipModelCheck = parent.fgSkipModelCheck;
  usOpCode = parent.usOpCode;
  ucMsgMode = parent.ucMsgMode.load();
}

}  // namespace zorv

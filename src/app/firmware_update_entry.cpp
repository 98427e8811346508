// "FW Update": the package appended to the program's own file, for the
// selected drive. Only a drive that took the new firmware counts as success;
// the window reports everything else with "Download Fail".

#include "app/firmware_entry.h"
#include "firmware/updater.h"

namespace zorv::app {

namespace {

bool runUpdate(Context& ctx, ProgressSink& progress, MessageSink&) {
  firmware::EmbeddedRunResult r = firmware::runEmbeddedPackage(ctx, progress);
  // The download and the row selection have told their own story; the
  // other failures would otherwise go unexplained.
  if (!r.updated() && !r.download && r.status != firmware::EmbeddedStatus::NoImage && !r.reason.empty())
    PrintMessage(ctx, "%s", r.reason.c_str());
  return r.updated();
}

FirmwareUpdateRegistrar reg{&runUpdate};

}  // namespace

}  // namespace zorv::app

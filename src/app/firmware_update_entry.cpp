// "FW Update": the package appended to the program's own file, for the
// selected drive. A drive that took the new firmware, or already runs it or a
// newer one ("FW is the Latest"), is no failure; the window reports
// everything else with "Download Fail".

#include "app/firmware_update_entry.h"

#include "app/firmware_entry.h"
#include "firmware/updater.h"

namespace zorv::app {

bool runEmbeddedUpdate(Context& ctx, ProgressSink& progress, MessageSink& box, const std::string& ownPath) {
  firmware::EmbeddedRunResult r = firmware::runEmbeddedPackage(ctx, progress, ownPath);
  // The download and the row selection have told their own story; the
  // other failures would otherwise go unexplained beside "Download Fail".
  if (!r.succeeded() && !r.download && r.status != firmware::EmbeddedStatus::NoImage && !r.reason.empty())
    AppendMessage(ctx, r.reason + "\r\n", box);
  return r.succeeded();
}

namespace {

bool runOwnPackage(Context& ctx, ProgressSink& progress, MessageSink& box) {
  return runEmbeddedUpdate(ctx, progress, box, "/proc/self/exe");
}

FirmwareUpdateRegistrar reg{&runOwnPackage};

}  // namespace

}  // namespace zorv::app

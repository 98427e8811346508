// "FW Update": the package appended to the program's own file, for the
// selected drive. A drive that took the new firmware, or already runs it or a
// newer one ("FW is the Latest"), is no failure; the window reports
// everything else with "Download Fail".

#include "app/firmware_update_entry.h"

#include <QCoreApplication>

#include "app/firmware_entry.h"
#include "firmware/updater.h"

namespace zorv::app {

bool runEmbeddedUpdate(Context& ctx, ProgressSink& progress, MessageSink& box, const std::string& ownPath) {
  firmware::EmbeddedRunResult r = firmware::runEmbeddedPackage(ctx, progress, ownPath);
  // The download and the row selection have told their own story; the
  // other failures would otherwise go unexplained beside "Download Fail".
  // Those failures have shown no box yet; a failure is said as plainly as
  // a success.
  if (!r.succeeded() && !r.download && r.status != firmware::EmbeddedStatus::NoImage && !r.reason.empty()) {
    AppendMessage(ctx, r.reason + "\r\n", box);
    ctx.ui->messageBox(r.reason + "\r\nDownload Fail", BoxIcon::Stop);
  }
  return r.succeeded();
}

namespace {

bool runOwnPackage(Context& ctx, ProgressSink& progress, MessageSink& box) {
  // The program's own file by the name the person knows it by; the link
  // the kernel keeps for it only when Qt cannot tell.
  std::string own = QCoreApplication::applicationFilePath().toStdString();
  if (own.empty()) own = "/proc/self/exe";
  return runEmbeddedUpdate(ctx, progress, box, own);
}

FirmwareUpdateRegistrar reg{&runOwnPackage};

}  // namespace

}  // namespace zorv::app

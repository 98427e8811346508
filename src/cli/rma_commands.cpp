// zorvctl rma: the RMA station without a window.
//
//   zorvctl [--sim DIR] [--drive N] rma --serial SN [--time-interval S]
//           [--report-dir DIR] [--confirm-data-loss]
//
// Runs the whole flow on the selected drive with the station's texts. During
// the power-cycle wait it prints the time left once a second and waits for
// the drive to go and come back (a person, or `zorvctl sim power-cycle N`
// from another shell). Exit 0 on "Pass"; 1 with the error code on a failed
// step (the report line is written either way); 2 for a serial number no
// drive can have, or a drive that may not be written raw.

#include <chrono>
#include <memory>
#include <thread>

#include "cli/command_registry.h"
#include "cli/session.h"
#include "discovery/config_block.h"
#include "discovery/enumerate.h"
#include "discovery/volumes.h"
#include "rma/rma_station.h"

namespace zorv::cli {

namespace {

struct RmaOptions {
  std::string serial;
  int timeInterval = -1;
  std::string reportDir;
  bool confirmDataLoss = false;
};

void usage(Session& session, const std::string& text) {
  session.err() << "zorvctl: " << text << '\n';
  session.fail(kExitUsage);
}

void runRma(Session& session, const RmaOptions& o) {
  if (!rma::RmaStation::normalizedSerial(o.serial))
    return usage(session, "--serial: a drive's serial number holds printable characters only, at most 20");
  Context* ctx = session.enumeratedContext();
  if (!ctx) return;

  rma::RmaStationOptions options;
  options.variant = configRmaVariant();
  options.reportDirectory = o.reportDir;
  options.permission.volumes = readVolumeMap(mountInfoPathFor(*ctx->port, session.simDir));
  options.permission.userConsent = o.confirmDataLoss;
  // The write/read test comes after the power cycle: a drive it may not
  // write is refused before anything is sent to it.
  if (ctx->hasSelectedDrive()) {
    const DriveEntry& drive = ctx->selectedDrive();
    std::string refusal =
        rawWriteRefusal(*ctx, drive, options.range.startLba, options.range.endLba(), options.permission);
    if (!refusal.empty()) {
      if (ctx->port->name() != "sim" && !o.confirmDataLoss && refusal.find("consent") != std::string::npos)
        refusal = formatText(
            "the RMA test writes Physical Drive %d from LBA 0x%X to 0x%llX: give --confirm-data-loss",
            physicalDriveNumber(*ctx, drive.strDevicePath), options.range.startLba,
            static_cast<unsigned long long>(options.range.endLba()));
      return usage(session, refusal);
    }
  }

  rma::RmaStationHooks hooks;
  // The rescan's drive list belongs to a window's pane; here, once a second,
  // it would bury the station's own lines.
  hooks.rescan = [ctx, &session] {
    NullSink rescanPane;
    ctx->setMessagePane(rescanPane);
    EnumerateDrives(*ctx);
    ctx->setMessagePane(session.pane());
  };
  hooks.timeLeft = [&session](std::string_view text) {
    if (!text.empty()) session.out() << text << std::flush;
  };
  if (o.timeInterval >= 0) options.limits.TimeInterval = static_cast<uint16_t>(o.timeInterval);
  rma::RmaStation station(*ctx, session.pane(), options, hooks);
  station.open();

  ctx->fgStopRequest = 0;
  rma::RunStart start = station.runRma(o.serial);
  switch (start) {
    case rma::RunStart::Started: break;
    case rma::RunStart::StillTyping:
      session.err() << "zorvctl: the drive's serial number " << station.serialNumber()
                    << " differs in length from " << o.serial << '\n';
      return session.fail(kExitFailed);
    case rma::RunStart::InvalidSerial: return usage(session, "--serial: not a serial number");
    default: return session.fail(kExitFailed);
  }
  // Timer 112: one tick a second until the drive is back or the time is up.
  auto next = std::chrono::steady_clock::now();
  while (station.phase() == rma::RmaPhase::WaitingForPowerCycle) {
    next += std::chrono::seconds(1);
    std::this_thread::sleep_until(next);
    station.tick();
  }
  std::optional<rma::RmaVerdict> verdict = station.lastVerdict();
  if (!verdict) return session.fail(kExitFailed);
  if (!verdict->passed) {
    if (verdict->errorCode)
      session.err() << formatText("zorvctl: RMA failed: error code %08X\n", *verdict->errorCode);
    else
      session.err() << "zorvctl: RMA failed\n";
    session.fail(kExitFailed);
  }
}

void install(CLI::App& app, Session& session) {
  auto o = std::make_shared<RmaOptions>();
  CLI::App* cmd =
      app.add_subcommand("rma", "The RMA station: repair and check the selected drive, one report line");
  cmd->add_option("--serial", o->serial, "The serial number printed on the drive")->required();
  cmd->add_option("--time-interval", o->timeInterval, "Seconds allowed for the power cycle (default 200)")
      ->check(CLI::Range(1, 65535));
  cmd->add_option("--report-dir", o->reportDir,
                  "Where RmaReport<MMDD>.csv goes (default: the current directory)");
  cmd->add_flag("--confirm-data-loss", o->confirmDataLoss,
                "The write/read test destroys the data from LBA 1000h to 201000h (needed on a real device)");
  cmd->callback([&session, o] { runRma(session, *o); });
}

}  // namespace

static CommandRegistrar reg{"rma", &install};

}  // namespace zorv::cli

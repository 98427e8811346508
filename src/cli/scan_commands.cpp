// zorvctl scan: the enumeration the drive list runs (message-pane text, then
// the drive-list lines). zorvctl info: the downloader window's drive
// information blocks.

#include <nlohmann/json.hpp>

#include "cli/command_registry.h"
#include "cli/json_text.h"
#include "cli/session.h"
#include "discovery/enumerate.h"
#include "discovery/volumes.h"

namespace zorv::cli {

namespace {

using nlohmann::json;

json refusedJson(const ProbeReport& report) {
  return {{"permissionDenied", report.deniedPaths}, {"busy", report.busyPaths}};
}

json driveJson(Context& ctx, int index, const std::string& line) {
  const DriveEntry& e = ctx.DriveTable[static_cast<size_t>(index)];
  std::string bus(busDisplayName(e.ucBusType));
  if (!bus.empty()) bus.erase(0, 1);
  return {{"index", index},
          {"physicalDrive", physicalDriveNumber(ctx, e.strDevicePath)},
          {"line", line},
          {"path", e.strDevicePath},
          {"model", e.strModel},
          {"serial", e.strSerial},
          {"sectors", e.sectorCount()},
          {"busType", e.ucBusType},
          {"bus", bus},
          {"knownModel", e.strKnownModel},
          {"modelClass", e.usModelClass}};
}

json selectedJson(const Context& ctx) {
  return ctx.hasSelectedDrive() ? json(ctx.ucSelDrive) : json(nullptr);
}

// Applies --drive after a pass; false (usage error) when it names no accepted drive.
bool applyDriveOption(Session& session, Context& ctx) {
  if (!session.driveNumber) return true;
  if (selectPhysicalDrive(ctx, *session.driveNumber)) return true;
  session.err() << "zorvctl: Physical Drive " << *session.driveNumber << " is not an accepted drive\n";
  session.fail(kExitUsage);
  return false;
}

void runScan(Session& session) {
  Context* ctx = session.context();
  if (!ctx) return;
  ctx->fgSkipModelCheck = session.skipModelCheck ? 1 : 0;
  DriveListModel list;
  DriveListAttachment attach(*ctx, list);
  StringSink captured;
  if (session.json) ctx->setMessagePane(captured);
  ProbeReport report;
  EnumerateDrives(*ctx, list, &report);
  if (session.json) ctx->setMessagePane(session.pane());
  if (!applyDriveOption(session, *ctx)) return;

  if (session.json) {
    json drives = json::array();
    for (int i = 0; i < list.count(); ++i) drives.push_back(driveJson(*ctx, i, list.line(i)));
    json out = {{"pane", captured.text()},
                {"drives", drives},
                {"selected", selectedJson(*ctx)},
                {"skipModelCheck", ctx->fgSkipModelCheck == 1},
                {"refused", refusedJson(report)}};
    session.setResult(out);
    return;
  }
  for (const std::string& line : list.lines()) session.out() << line << '\n';
}

void runInfo(Session& session) {
  Context* ctx = session.context();
  if (!ctx) return;
  ctx->fgSkipModelCheck = session.skipModelCheck ? 1 : 0;
  DriveListModel list;
  DriveListAttachment attach(*ctx, list);
  VolumeMap volumes = readVolumes(*ctx->port, mountInfoPathFor(*ctx->port, session.simDir));
  // The downloader's message box and its pane are one text; so is stdout here.
  StringSink captured;
  MessageSink& box = session.json ? static_cast<MessageSink&>(captured) : session.pane();
  if (session.json) ctx->setMessagePane(captured);
  ProbeReport report;
  std::vector<DriveInformation> drives = RunDriveInformationPass(*ctx, list, box, volumes, &report);
  if (session.json) ctx->setMessagePane(session.pane());
  if (!applyDriveOption(session, *ctx)) return;
  if (!session.json) return;

  json arr = json::array();
  for (const DriveInformation& d : drives) {
    arr.push_back({{"physicalDrive", d.physicalDrive},
                   {"model", d.modelText},
                   {"capacityGB", d.capacityGB},
                   {"word135", d.word135},
                   {"firmware", d.firmware},
                   {"serial", d.serial},
                   {"volumes", d.volumes},
                   {"block", d.block},
                   {"line", d.listLine}});
  }
  json out = {{"title", "Firmware Downloader Ver 1.7"},
              {"drives", arr},
              {"messageBox", captured.text()},
              {"selected", selectedJson(*ctx)},
              {"refused", refusedJson(report)}};
  session.setResult(out);
}

void install(CLI::App& app, Session& session) {
  CLI::App* scan = app.add_subcommand(
      "scan", "Enumerate the drives of the brand: the message-pane text, then the drive-list lines");
  scan->add_flag("--skip-model-check", session.skipModelCheck, "Accept every drive that answers IDENTIFY DEVICE");
  scan->callback([&session] { runScan(session); });

  CLI::App* info = app.add_subcommand("info", "The downloader window's drive information blocks");
  info->add_flag("--skip-model-check", session.skipModelCheck, "Accept every drive that answers IDENTIFY DEVICE");
  info->callback([&session] { runInfo(session); });
}

static CommandRegistrar reg{"scan", &install};

}  // namespace

}  // namespace zorv::cli

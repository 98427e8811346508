// zorvctl diag trigger | clean-smart | erase-stats: the engineering window's
// Diagnostic > Trigger, RMA > Clean SMART and Vendor > DrawData.
//
//   zorvctl [--sim DIR] [--drive N] diag trigger
//   zorvctl [--sim DIR] [--drive N] diag clean-smart
//   zorvctl [--sim DIR] [--drive N] diag erase-stats [--dir DIR] [--file DUMP.txt] [--json] [--png OUT]
//
// erase-stats reads the selected drive's block-information dump (writing the
// dump files into --dir, as "diag 3202" does) or, with --file, a saved
// ".txt" dump; it prints the figures and with --png draws the picture the
// window shows. Exit status 1 when the drive refuses a command, its dump
// cannot be read or used (empty, cut short, beyond the flash geometry), or
// the picture cannot be written; 2 for a saved dump that is unusable.

#include <nlohmann/json.hpp>

#include <memory>

#include "cli/diag_subcommands.h"
#include "cli/identify_cli_support.h"
#include "cli/json_text.h"
#include "cli/session.h"
#include "diagnostics/erase_stats.h"
#include "diagnostics/vendor_maintenance.h"
#include "transport/message.h"

#ifdef ZORV_CLI_CHARTS
#include "controls/erase_stats_chart.h"
#endif

namespace zorv::cli {

namespace {

using nlohmann::json;

struct EraseStatsOptions {
  std::string dir = ".";
  std::string file;
  std::string png;
};

json distributionJson(const Distribution& d) {
  json bins = json::array();
  for (const HistogramBin& b : d.histogram) bins.push_back({{"from", b.from}, {"to", b.to}, {"count", b.count}});
  return {{"count", d.count}, {"min", d.min},           {"max", d.max},
          {"average", d.average}, {"stddev", d.stddev}, {"histogram", bins}};
}

json statisticsJson(const EraseStatistics& s) {
  json groups = json::array();
  for (const GroupStatistics& g : s.groups) {
    groups.push_back({{"label", g.label},
                      {"address", g.address},
                      {"blocks", g.blocks},
                      {"earlyBad", g.earlyBad},
                      {"laterBad", g.laterBad},
                      {"eraseCount", distributionJson(g.eraseCount)},
                      {"invalidPages", distributionJson(g.invalidPages)}});
  }
  return {{"source", s.source},
          {"modelClass", s.modelClass},
          {"groupKind", s.perPlane ? "plane" : "raid"},
          {"geometryChecked", s.geometryChecked},
          {"blocks", s.blocks},
          {"earlyBad", s.earlyBad},
          {"laterBad", s.laterBad},
          {"eraseCount", distributionJson(s.eraseCount)},
          {"invalidPages", distributionJson(s.invalidPages)},
          {"groups", groups}};
}

// Runs one maintenance command on the selected drive; its pane text goes to
// stdout (inside the JSON with --json).
void runMaintenance(Session& session, bool (*command)(Context&)) {
  Context* ctx = selectedDriveContext(session);
  if (!ctx) return;
  StringSink captured;
  if (session.json) ctx->setMessagePane(captured);
  bool ok = command(*ctx);
  ctx->setMessagePane(session.pane());
  if (!ok) session.fail(kExitFailed);
  if (session.json) session.setResult({{"ok", ok}, {"pane", captured.text()}});
}

void runEraseStats(Session& session, const EraseStatsOptions& o) {
#ifndef ZORV_CLI_CHARTS
  if (!o.png.empty()) {
    session.err() << "zorvctl: this zorvctl was built without charts (--png needs the Qt build)\n";
    session.fail(kExitUsage);
    return;
  }
#endif
  BlockDumpReading reading;
  StringSink captured;
  if (!o.file.empty()) {
    reading = LoadEraseStatistics(o.file);
  } else {
    Context* ctx = selectedDriveContext(session);
    if (!ctx) return;
    MessageSink& pane = session.json ? static_cast<MessageSink&>(captured) : session.pane();
    if (session.json) ctx->setMessagePane(captured);
    reading = ReadEraseStatistics(*ctx, pane, o.dir);
    ctx->setMessagePane(session.pane());
  }
  if (!reading.ok()) {
    session.err() << "zorvctl: " << reading.error << '\n';
    // A saved dump that cannot be used is unusable input; a drive whose
    // dump cannot be read or used has failed.
    session.fail(o.file.empty() ? kExitFailed : kExitUsage);
    if (session.json)
      session.setResult({{"ok", false}, {"error", reading.error}, {"pane", captured.text()}});
    return;
  }
  const EraseStatistics& stats = *reading.statistics;
#ifdef ZORV_CLI_CHARTS
  if (!o.png.empty()) {
    std::string error;
    if (!controls::renderEraseStatsPng(stats, o.png, error)) {
      session.err() << "zorvctl: " << error << '\n';
      session.fail(kExitFailed);
    }
  }
#endif
  if (session.json) {
    json out = statisticsJson(stats);
    out["ok"] = true;
    out["textFile"] = reading.textFile.string();
    out["png"] = o.png.empty() ? json(nullptr) : json(o.png);
    out["pane"] = captured.text();
    session.setResult(out);
    return;
  }
  std::string text = eraseStatisticsText(stats);
  for (char c : text)
    if (c != '\r') session.out() << c;
}

}  // namespace

void installDiagSubcommands(CLI::App* diag, Session& session) {
  CLI::App* trigger = diag->add_subcommand("trigger", "Arm the controller's diagnostics (vendor code 57h 01h)");
  trigger->callback([&session] { runMaintenance(session, &TriggerDiagnostic); });

  CLI::App* clean = diag->add_subcommand("clean-smart", "Clear the drive's SMART data (vendor code 56h 03h)");
  clean->callback([&session] { runMaintenance(session, &CleanSmart); });

  auto o = std::make_shared<EraseStatsOptions>();
  CLI::App* stats = diag->add_subcommand(
      "erase-stats", "Erase-count and invalid-page statistics of the block-information dump");
  stats->add_option("--dir", o->dir, "Directory for the dump files (default: current directory)");
  stats->add_option("--file", o->file, "A saved block-information dump (.txt) instead of the drive's");
  stats->add_option("--png", o->png, "Write the picture to this PNG file");
  stats->callback([&session, o] { runEraseStats(session, *o); });
}

}  // namespace zorv::cli

// zorvctl report show: the speed report viewer's lines, and with --png its
// chart ("Second" / "MB/S", the curve in green) drawn offscreen to a picture.
//
//   zorvctl report show PhyWrRpt_....csv [--png OUT]
//
// Exit 0 when the report was read (and the picture written), 2 when the
// file cannot be read or --png is not available in this build.

#include <memory>

#include "cli/command_registry.h"
#include "cli/session.h"
#include "workload/speed_report_view.h"

#ifdef ZORV_CLI_CHARTS
#include "controls/speed_chart.h"
#endif

namespace zorv::cli {

namespace {

struct ReportOptions {
  std::string file;
  std::optional<std::string> png;
};

void showReport(Session& session, const ReportOptions& o) {
  std::string error;
  auto view = readSpeedReport(o.file, error);
  if (!view) {
    session.err() << "zorvctl: " << error << '\n';
    session.fail(kExitUsage);
    return;
  }
  session.out() << view->text;
  if (!o.png) return;
#ifdef ZORV_CLI_CHARTS
  if (!app::renderSpeedChart(*view, *o.png, error)) {
    session.err() << "zorvctl: " << error << '\n';
    session.fail(kExitFailed);
  }
#else
  session.err() << "zorvctl: this zorvctl was built without Qt: --png is not available\n";
  session.fail(kExitUsage);
#endif
}

void install(CLI::App& app, Session& session) {
  auto o = std::make_shared<ReportOptions>();
  CLI::App* report = app.add_subcommand("report", "Speed reports of the capacity workload");
  report->require_subcommand(1);
  CLI::App* show = report->add_subcommand("show", "The speed report viewer's lines and chart");
  show->add_option("file", o->file, "A speed report (PhyWrRpt_....csv)")->required();
  show->add_option("--png", o->png, "Draw the chart into this PNG file");
  show->callback([&session, o] { showReport(session, *o); });
}

CommandRegistrar reg{"report", &install};

}  // namespace

}  // namespace zorv::cli

// zorvctl parse: the file parsing tab without its window. "spi" turns saved
// SPI flash images into rows of the OBB record file, "devinfo" turns run logs
// into rows of the report; both print the rows the tab lists.

#include <nlohmann/json.hpp>

#include <filesystem>

#include "analysis/file_parsing.h"
#include "cli/command_registry.h"
#include "cli/json_text.h"
#include "cli/session.h"
#include "transport/clock.h"

namespace zorv::cli {

namespace {

using Json = nlohmann::ordered_json;
namespace an = zorv::analysis;

struct ParseOptions {
  std::string product = "pallo";
  std::vector<std::string> files;
  std::string output;
};

an::ObbProduct productOf(const ParseOptions& o) {
  return o.product == "tarn" ? an::ObbProduct::Tarn : an::ObbProduct::Pallo;
}

// The record file: -o, else the tab's name for this second in the current directory.
std::filesystem::path outputFile(const ParseOptions& o, std::string (*name)(const DiagClockValue&)) {
  if (!o.output.empty()) return o.output;
  SystemClock clock;
  return name(DiagClockValue{clock.localTime(), true});
}

void report(Session& session, const an::ParseOutcome& out, bool numeric) {
  for (const an::ParsedFile& f : out.files)
    if (!f.readable) session.err() << "zorvctl: cannot read " << f.path.string() << ": " << f.error << '\n';
  if (!out.csvWritten) session.err() << "zorvctl: " << out.csvError << '\n';
  if (session.json) {
    Json rows = Json::array();
    Json unreadable = Json::array();
    for (const an::ParsedFile& f : out.files) {
      if (!f.readable) {
        unreadable.push_back({{"file", f.path.string()}, {"error", f.error}});
        continue;
      }
      Json row = Json::object();
      for (size_t i = 0; i < f.values.size() && i < out.columns.size(); ++i) {
        if (numeric && i > 0)
          row[out.columns[i]] = std::stoll(f.values[i]);
        else
          row[out.columns[i]] = f.values[i];
      }
      rows.push_back(std::move(row));
    }
    Json doc = {{"csv", out.csvFile.string()},
                {"csvWritten", out.csvWritten},
                {"columns", out.columns},
                {"rows", rows},
                {"unreadable", unreadable}};
    session.setResult(doc);
  } else {
    session.out() << out.listText;
  }
  if (!out.allReadable()) session.fail(kExitUsage);
  if (!out.csvWritten) session.fail(kExitFailed);
}

void runSpi(Session& session, const ParseOptions& o) {
  an::ParseOutcome out = an::ParseSpiFiles(productOf(o), {o.files.begin(), o.files.end()},
                                           outputFile(o, &an::SpiRecordFileName));
  report(session, out, true);
}

void runDevInfo(Session& session, const ParseOptions& o) {
  if (productOf(o) == an::ObbProduct::Tarn) {
    session.ui().messageBox(an::kNotSupportText, BoxIcon::Stop, "");
    session.fail(kExitUsage);
    return;
  }
  an::ParseOutcome out = an::ParseDevInfoFiles({o.files.begin(), o.files.end()},
                                               outputFile(o, &an::DevInfoRecordFileName));
  report(session, out, false);
}

void install(CLI::App& app, Session& session) {
  auto o = std::make_shared<ParseOptions>();
  CLI::App* parse = app.add_subcommand("parse", "Turn saved SPI images and run logs into record files (file parsing tab)");
  parse->require_subcommand(1);

  auto common = [&](CLI::App* cmd, const char* what) {
    cmd->add_option("--product", o->product, "Record layout: pallo (default) or tarn")
        ->check(CLI::IsMember({"pallo", "tarn"}));
    cmd->add_option("FILE", o->files, what);
    cmd->add_option("-o", o->output, "Record file (default: named by this second, in the current directory)");
  };
  CLI::App* spi = parse->add_subcommand("spi", "One SPI_OBB_Record row per SPI flash image (\"Open SPI Bin\")");
  common(spi, "SPI flash images");
  spi->callback([&session, o] { runSpi(session, *o); });

  CLI::App* devinfo = parse->add_subcommand("devinfo", "One DevinfoAndSmartReport row per run log (\"Open DevInfo\")");
  common(devinfo, "Run logs");
  devinfo->callback([&session, o] { runDevInfo(session, *o); });
}

static CommandRegistrar reg{"parse", &install};

}  // namespace

}  // namespace zorv::cli

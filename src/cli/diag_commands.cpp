// zorvctl diag: one run of the vendor diagnostics console. OP is an
// operation's leading hex code ("30", "B0D0", "780001") or its row index
// ("#33" when the index is also a code); the input boxes are options; the run
// log and, with --report, the report are written as the console writes them.

#include <nlohmann/json.hpp>

#include <iostream>
#include <memory>

#include "cli/command_registry.h"
#include "cli/diag_subcommands.h"
#include "cli/json_text.h"
#include "cli/identify_cli_support.h"
#include "cli/session.h"
#include "diagnostics/diagnostics_console.h"
#include "diagnostics/operation_table.h"
#include "diagnostics/smart.h"

namespace zorv::cli {

namespace {

using nlohmann::json;

struct DiagOptions {
  std::string op;
  std::string second;
  bool report = false;
  bool list = false;
  std::string dir = ".";
  std::optional<int> percent;
  std::vector<std::string> files;
  std::vector<std::string> saves;
  // The input boxes, as typed.
  std::optional<std::string> channel, chip, die, plane, block, raid, startPpn, endPpn, map, startMemory,
      memoryLength, address;
};

std::string hex(std::span<const uint8_t> bytes) {
  std::string out;
  for (uint8_t b : bytes) out += formatText("%02X", b);
  return out;
}

json infoSsdJson(const InfoSsdRecord& record, uint16_t modelClass) {
  json fields = json::array();
  auto table = InfoSsdLabelTable(modelClass);
  for (size_t row = 0; row < table.size(); ++row) {
    const InfoSsdField& f = table[row];
    if (f.reserved()) continue;
    auto bytes = record.field(modelClass, row);
    std::string label(f.label);
    label = label.substr(0, label.find_last_not_of(" :") + 1);
    json value = f.text ? json(std::string(bytes.begin(), bytes.end())) : json(hex(bytes));
    fields.push_back({{"label", label}, {"offset", f.offset}, {"width", f.width}, {"value", value}});
  }
  return {{"modelClass", modelClass},
          {"firmwareVersion", record.firmwareVersion()},
          {"hwid", hex(record.hardwareId(modelClass))},
          {"fields", fields}};
}

json smartJson(const std::array<uint8_t, 512>& data) {
  json attrs = json::array();
  for (const SmartAttribute& a : ParseSmartAttributes(data)) {
    auto name = smartAttributeName(a.id);
    attrs.push_back({{"id", a.id},
                     {"name", name ? json(std::string(*name)) : json(nullptr)},
                     {"flags", a.flags},
                     {"current", a.current},
                     {"worst", a.worst},
                     {"raw", a.raw},
                     {"threshold", a.threshold}});
  }
  uint8_t sum = 0;
  for (uint8_t b : data) sum = static_cast<uint8_t>(sum + b);
  return {{"attributes", attrs}, {"checksumValid", sum == 0}};
}

void listOperations(Session& session) {
  for (const VendorOperation& op : VendorOperationList()) {
    session.out() << static_cast<int>(op.index) << ' ' << op.text << '\n';
  }
}

void runDiag(Session& session, const DiagOptions& o) {
  if (o.list) {
    listOperations(session);
    return;
  }
  if (o.op.empty()) {
    session.err() << "zorvctl: diag needs an operation (see diag --list)\n";
    session.fail(kExitUsage);
    return;
  }
  std::optional<size_t> first = findVendorOperation(o.op);
  // Looked up as a plain index: GCC's -O2 flow analysis misreads an optional
  // built from a conditional here as possibly uninitialised.
  size_t secondRow = 0;
  bool hasSecond = false;
  if (!o.second.empty()) {
    if (auto found = findVendorOperation(o.second)) {
      secondRow = *found;
      hasSecond = true;
    }
  }
  if (!first || (!o.second.empty() && !hasSecond)) {
    session.err() << "zorvctl: unknown operation " << (!first ? o.op : o.second) << " (see diag --list)\n";
    session.fail(kExitUsage);
    return;
  }
  auto usesSet = [&](size_t row) { return row == 34; };
  if ((usesSet(*first) || (hasSecond && usesSet(secondRow))) && !o.address && !o.percent) {
    session.err() << "zorvctl: 780001 needs --address or --percent\n";
    session.fail(kExitUsage);
    return;
  }
  if (o.percent && (*o.percent < 0 || *o.percent > 100)) {
    session.err() << "zorvctl: --percent takes 0 to 100\n";
    session.fail(kExitUsage);
    return;
  }
  // The rows that open a file take it from --file, one per such pass.
  auto opensFile = [](size_t row) { return row == 10 || row == 21; };
  size_t filesNeeded = (opensFile(*first) ? 1u : 0u) + (hasSecond && opensFile(secondRow) ? 1u : 0u);
  if (o.files.size() < filesNeeded) {
    const size_t row = opensFile(*first) && o.files.empty() ? *first : secondRow;
    std::string_view text = VendorOperationList()[row].text;
    session.err() << "zorvctl: " << text.substr(0, text.find(' ')) << " needs --file\n";
    session.fail(kExitUsage);
    return;
  }

  Context* ctx = selectedDriveContext(session);
  if (!ctx) return;

  StringSink captured;
  MessageSink& raw = session.json ? static_cast<MessageSink&>(captured) : session.pane();
  if (session.json) ctx->setMessagePane(captured);
  for (const std::string& f : o.files) session.ui().files.push_back(f);
  for (const std::string& f : o.saves) session.ui().files.push_back(f);

  DiagnosticsConsole console(*ctx, raw);
  console.setDirectory(o.dir);
  console.onCommandChanged(static_cast<int>(*first));
  if (hasSecond) {
    console.onSecondDumpToggled(true);
    console.onSecondCommandChanged(static_cast<int>(secondRow));
  }
  console.onMakeReportToggled(o.report);
  if (o.percent) {
    console.onTimerTick();
    console.onSliderMoved(*o.percent);
  }
  console.editInputs([&](DiagInputs& in) {
    auto set = [](std::string& box, const std::optional<std::string>& value) {
      if (value) box = *value;
    };
    set(in.channel, o.channel);
    set(in.chip, o.chip);
    set(in.die, o.die);
    set(in.plane, o.plane);
    set(in.block, o.block);
    set(in.raid, o.raid);
    set(in.startPpn, o.startPpn);
    set(in.endPpn, o.endPpn);
    set(in.map, o.map);
    set(in.startMemory, o.startMemory);
    set(in.memoryLength, o.memoryLength);
    set(in.address, o.address);
  });

  std::optional<DiagRunResult> result = console.RunDiagnostics();
  ctx->setMessagePane(session.pane());
  if (!result) {
    session.err() << "zorvctl: another operation holds the drive\n";
    session.fail(kExitFailed);
    return;
  }
  // A row that refused its input sent nothing for it: unusable input.
  if (result->inputRefused) session.fail(kExitUsage);
  if (!result->ok()) session.fail(kExitFailed);
  if (result->report && !result->report->scratch.empty()) session.err() << result->report->scratch;

  if (!session.json) return;
  json passes = json::array();
  for (const DiagPassResult& p : result->passes) {
    json pass = {{"row", p.row}, {"operation", std::string(VendorOperationList()[p.row].text)}, {"text", p.text}};
    if (p.infoSsd) pass["infoSsd"] = infoSsdJson(*p.infoSsd, result->modelClass);
    if (p.smartData) pass["smart"] = smartJson(*p.smartData);
    passes.push_back(pass);
  }
  json report = nullptr;
  if (result->report) {
    report = {{"file", result->report->reportFile.string()},
              {"records", result->report->records},
              {"skipped", result->report->skipped},
              {"written", result->report->reportWritable}};
  }
  json out = {{"modelClass", result->modelClass},
              {"runLog", result->runLogName},
              {"runLogWritten", result->runLogWritten},
              {"passes", passes},
              {"report", report},
              {"commandFailed", result->commandFailed},
              {"inputRefused", result->inputRefused},
              {"pane", captured.text()}};
  session.setResult(out);
}

void install(CLI::App& app, Session& session) {
  auto o = std::make_shared<DiagOptions>();
  CLI::App* diag = app.add_subcommand("diag", "Run a vendor diagnostics operation (the diagnostics console)");
  diag->add_option("op", o->op, "Operation: its leading hex code (30, B0D0, 780001) or row index (#N when ambiguous)");
  diag->add_flag("--list", o->list, "List the 36 operations");
  diag->add_option("--second", o->second, "A second operation in the same run (Second Dump)");
  diag->add_flag("--report", o->report, "End the run with the CSV report of all run logs (Make Report 1)");
  diag->add_option("--dir", o->dir, "Directory for run logs, reports and dumps (default: current directory)");
  diag->add_option("--channel", o->channel, "Channel box (hex)");
  diag->add_option("--chip", o->chip, "Chip box (hex)");
  diag->add_option("--die", o->die, "Die box (hex)");
  diag->add_option("--plane", o->plane, "Plane box (hex)");
  diag->add_option("--block", o->block, "Block box (hex)");
  diag->add_option("--raid", o->raid, "RAID box (hex)");
  diag->add_option("--start-ppn", o->startPpn, "Start PPN box (hex)");
  diag->add_option("--end-ppn", o->endPpn, "End PPN box (hex)");
  diag->add_option("--map", o->map, "\"0 Map, 1Table\": 00 or 01");
  diag->add_option("--start-mem", o->startMemory, "Start Memory box (hex, no 0x)");
  diag->add_option("--mem-length", o->memoryLength, "Memory Length box (hex)");
  diag->add_option("--address", o->address, "Max address box for 780001 (hex, trailing H allowed)");
  diag->add_option("--percent", o->percent, "Max address for 780001 from the slider position 0-100");
  diag->add_option("--file", o->files, "File for an open-file dialog (51 restore, F714)");
  diag->add_option("--save", o->saves, "File for a save dialog (F712)");
  installDiagSubcommands(diag, session);
  diag->callback([&session, o, diag] {
    if (diag->get_subcommands().empty()) runDiag(session, *o);
  });
}

CommandRegistrar reg{"diag", &install};

}  // namespace

}  // namespace zorv::cli

// zorvctl ata: the any-ATA console. The eight register texts are taken as
// the console's edits hold them (at most four characters, parsed as
// hexadecimal up to the first other character).

#include <filesystem>
#include <fstream>
#include <memory>

#include <nlohmann/json.hpp>

#include "cli/command_registry.h"
#include "cli/json_text.h"
#include "cli/identify_cli_support.h"
#include "cli/session.h"
#include "identify/ata_console.h"

namespace zorv::cli {

namespace {

struct AtaOptions {
  std::array<std::string, kConsoleEditCount> edits{"00", "00", "00", "00", "00", "00", "00", "00"};
  bool dataOut = false;
  std::string in;
  std::string out;
};

const char* const kOptionNames[kConsoleEditCount] = {"--data-byte", "--features", "--sector-cnt", "--sector-num",
                                                     "--cyl-low",   "--cyl-high", "--device",     "--command"};

bool loadInput(Session& session, Context& ctx, const std::string& path) {
  std::error_code ec;
  std::ifstream in;
  if (!std::filesystem::is_directory(path, ec)) in.open(path, std::ios::binary);
  if (!in.is_open()) {
    session.err() << "zorvctl: cannot read " << path << '\n';
    session.fail(kExitUsage);
    return false;
  }
  // At most the whole SectorBuffer; the rest of a longer file is not read.
  in.read(reinterpret_cast<char*>(ctx.SectorBuffer.data()), static_cast<std::streamsize>(ctx.SectorBuffer.size()));
  return true;
}

// The registers the drive returned, by their names on the console; null
// when none came back (the USB path returns none).
nlohmann::json replyJson(const Context& ctx) {
  if (!ctx.lastAtaReply.valid) return nullptr;
  const auto& c = ctx.lastAtaReply.current;
  const auto& p = ctx.lastAtaReply.previous;
  auto hex2 = [](uint8_t v) { return formatText("%02X", v); };
  auto hex4 = [](uint8_t ext, uint8_t v) { return formatText("%02X%02X", ext, v); };
  return {{"error", hex2(c[0])},           {"sectorCnt", hex4(p[1], c[1])}, {"sectorNum", hex4(p[2], c[2])},
          {"cylinderLow", hex4(p[3], c[3])}, {"cylinderHigh", hex4(p[4], c[4])}, {"device", hex2(c[5])},
          {"status", hex2(c[6])}};
}

void runAta(Session& session, const AtaOptions& o) {
  for (int i = 0; i < kConsoleEditCount; ++i) {
    if (!checkEditText(session, kOptionNames[i], o.edits[static_cast<size_t>(i)], 4)) return;
  }
  Context* ctx = selectedDriveContext(session);
  if (!ctx) return;
  if (!o.in.empty() && !loadInput(session, *ctx, o.in)) return;

  // As the "Any ATA" menu command: a cleared CmdBlock, then the console.
  ctx->usOpCode = 0x25B0;
  ctx->CmdBlock.clear();
  AnyAtaConsole console;
  console.open(*ctx);
  console.edits = o.edits;
  console.dataOut = o.dataOut;
  StringSink captured;
  if (session.json) ctx->setMessagePane(captured);
  const bool sent = console.send(*ctx);
  if (session.json) {
    ctx->setMessagePane(session.pane());
    nlohmann::json out = {{"pane", captured.text()}, {"ok", sent}, {"returned", replyJson(*ctx)}};
    session.setResult(out);
  }
  if (!sent) {
    session.fail(kExitFailed);
    return;
  }
  if (o.out.empty()) return;
  const ConsoleTransfer& t = console.lastTransfer;
  if (t.dataOut || t.length == 0) {
    session.err() << "zorvctl: --out: the command brought no data in; " << o.out << " not written\n";
    session.fail(kExitUsage);
    return;
  }
  std::ofstream out(o.out, std::ios::binary | std::ios::trunc);
  if (out) {
    out.write(reinterpret_cast<const char*>(ctx->SectorBuffer.data()), static_cast<std::streamsize>(t.length));
    out.close();
  }
  if (!out) {
    session.err() << "zorvctl: cannot write " << o.out << '\n';
    session.fail(kExitFailed);
  }
}

void install(CLI::App& app, Session& session) {
  auto options = std::make_shared<AtaOptions>();
  CLI::App* ata = app.add_subcommand(
      "ata", "The any-ATA console: send one ATA command typed as its eight task-file registers");
  const char* help[kConsoleEditCount] = {
      "Data Byte (reserved register byte)", "Features",      "Sector Cnt (HHHH: count and count ext)",
      "Sector Num (HHHH: LBA 7:0 and 31:24)", "Cylinder Low (HHHH: LBA 15:8 and 39:32)",
      "Cylinder High (HHHH: LBA 23:16 and 47:40)", "Device/Head", "Command opcode"};
  for (int i = 0; i < kConsoleEditCount; ++i) {
    CLI::Option* opt = ata->add_option(kOptionNames[i], options->edits[static_cast<size_t>(i)], help[i])
                           ->type_name(i == kEditSectorCnt || i == kEditSectorNum || i == kEditCylinderLow ||
                                               i == kEditCylinderHigh
                                           ? "HHHH"
                                           : "HH");
    if (i == kEditCommand) opt->required();
  }
  ata->add_flag("--data-out", options->dataOut, "The \"Data out\" box: data-out for opcodes the console does not know");
  ata->add_option("--in", options->in, "Fill SectorBuffer from FILE before sending (data for a data-out command)")
      ->type_name("FILE");
  ata->add_option("--out", options->out, "Save the data a data-in command read to FILE")->type_name("FILE");
  ata->callback([&session, options] { runAta(session, *options); });
}

static CommandRegistrar reg{"ata", &install};

}  // namespace

}  // namespace zorv::cli

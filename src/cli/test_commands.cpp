// zorvctl test: the four raw-drive media tests, with the test dialog's
// enabled fields as options, the lines the window's message box shows on
// stdout, and the summary with --json.
//
//   zorvctl [--sim DIR] [--drive N] test seq-read|rnd-access|seq-write|rnd-write
//       [--slba HEX] [--elba HEX] [--blks HEX] [--loop N] [--length N] [--align N]
//       [--rnd-blks] [--verify|--no-verify] [--no-ncq] [--max-err N] [--max-time MS]
//       [--avg-time MS] [--seed N] [--confirm-data-loss] [--json]
//
// A field left out keeps the dialog's first default ("ELBA": the drive's last
// LBA). Exit status 0 when the test passed, 1 when it failed or was stopped
// (Ctrl-C is the stop flag: the run prints "STOP!" and ends), 2 for input
// the dialog refuses, a drive a write test must not touch, or a write test
// on a real device without --confirm-data-loss.

#include <nlohmann/json.hpp>

#include <memory>

#include "cli/command_registry.h"
#include "cli/json_text.h"
#include "cli/identify_cli_support.h"
#include "cli/interrupt_stop.h"
#include "cli/session.h"
#include "discovery/enumerate.h"
#include "mediatest/edit_func.h"
#include "mediatest/media_test_worker.h"

namespace zorv::cli {

namespace {

using nlohmann::json;

struct TestOptions {
  std::string test;
  std::optional<std::string> slba, elba, blks, loop, length, align, maxErr, maxTime, avgTime;
  bool rndBlks = false;
  bool verify = false;
  bool noVerify = false;
  bool noNcq = false;
  bool confirmDataLoss = false;
  std::optional<uint32_t> seed;
};

uint16_t testCode(const std::string& name) {
  for (uint16_t code : {kOpSeqRead, kOpRandomAccess, kOpSeqWrite, kOpRandomWrite})
    if (mediaTestName(code) == name) return code;
  return 0;
}

bool usage(Session& session, const std::string& text) {
  session.err() << "zorvctl: " << text << '\n';
  session.fail(kExitUsage);
  return false;
}

// The options as the dialog's fields: the same limits, radix and refusals.
bool fillDialog(Session& session, const TestOptions& o, CEditFunc& dlg) {
  struct Field {
    const char* option;
    EditField field;
    const std::optional<std::string>& value;
  };
  const Field fields[] = {{"--slba", EditField::Slba, o.slba},         {"--elba", EditField::Elba, o.elba},
                          {"--blks", EditField::Blks, o.blks},         {"--loop", EditField::Loop, o.loop},
                          {"--length", EditField::Length, o.length},   {"--align", EditField::Align, o.align},
                          {"--max-err", EditField::MaxErr, o.maxErr},  {"--max-time", EditField::MaxTime, o.maxTime},
                          {"--avg-time", EditField::AvgTime, o.avgTime}};
  for (const Field& f : fields) {
    if (!f.value) continue;
    std::string text = *f.value;
    // "0x" is how hexadecimal is usually typed on a command line; the box holds the digits.
    if (editFieldSpec(f.field).radix == Radix::Hex && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
      text = text.substr(2);
    if (!dlg.setText(f.field, text))
      return usage(session, std::string(f.option) + " holds at most " +
                                std::to_string(editFieldSpec(f.field).textLimit) + " characters: " + *f.value);
  }
  if (o.rndBlks) dlg.setChecked(CheckItem::RndBlks, true);
  if (o.verify) dlg.setChecked(CheckItem::Verify, true);
  if (o.noVerify) dlg.setChecked(CheckItem::Verify, false);
  if (o.noNcq) dlg.setChecked(CheckItem::Ncq, false);
  return true;
}

json summaryJson(const std::string& test, int drive, const MediaTestParams& p, const MediaTestResult& r,
                 const std::string& pane) {
  const MediaTestStats& s = r.stats;
  double bytes = static_cast<double>(s.blocksRead + s.blocksWritten) * 512.0;
  json out = {
      {"test", test},
      {"drive", drive},
      {"parameters",
       {{"slba", p.ulStartLba},
        {"elba", p.ulEndLba},
        {"blks", p.ulBlks},
        {"loop", p.ulLoop},
        {"length", p.ulLength},
        {"align", p.ulAlign},
        {"maxErr", p.ulMaxErr},
        {"maxTimeMs", p.ulMaxTime},
        {"avgTimeMs", p.ulAvgTime},
        {"rndBlks", p.fgRndBlks != 0},
        {"verify", p.fgReadVerify != 0},
        {"ncq", p._fgNCQEnable != 0}}},
      {"verdict", !r.started ? "refused" : r.stopped ? "stopped" : r.testPassed ? "passed" : "failed"},
      {"seconds", r.seconds},
      {"bytesPerSecond", r.seconds > 0 ? bytes / r.seconds : 0.0},
      {"reads", s.reads},
      {"writes", s.writes},
      {"blocksRead", s.blocksRead},
      {"blocksWritten", s.blocksWritten},
      {"errors",
       {{"read", s.readErrors},
        {"write", s.writeErrors},
        {"compare", s.compareFailures},
        {"overTime", s.overTime}}},
      {"writeRetries", s.writeRetries},
      {"writesSkipped", s.writesSkipped},
      {"compares", s.compares},
      // The rates as the lines print them: the KB/Sec figure counts 2 per block.
      {"rates", {{"groups", s.groups}, {"last", s.lastRate}, {"average", s.averageRate}}},
      {"accessMs",
       {{"reads", s.accessReads}, {"max", s.maxMs}, {"min", s.minMs}, {"average", s.averageMs}}},
      {"pane", pane},
  };
  if (!r.refusal.empty()) out["refusal"] = r.refusal;
  return out;
}

void runTest(Session& session, const TestOptions& o) {
  uint16_t code = testCode(o.test);
  if (code == 0) return (void)usage(session, "test: seq-read, rnd-access, seq-write or rnd-write");
  if (o.verify && o.noVerify) return (void)usage(session, "--verify and --no-verify exclude each other");
  Context* ctx = selectedDriveContext(session);
  if (!ctx) return;
  const DriveEntry drive = ctx->selectedDrive();
  const int physical = physicalDriveNumber(*ctx, drive.strDevicePath);

  ParameterHistory history;
  CEditFunc dlg(history);
  dlg.open(code, drive.sectorCount());
  if (!fillDialog(session, o, dlg)) return;
  CEditFunc::SendResult sent = dlg.send();
  if (!sent.ok()) return (void)usage(session, sent.refusal);

  MediaTestJob job;
  job.params = sent.params;
  job.drive = drive;
  job.seed = o.seed;
  job.permission.userConsent = o.confirmDataLoss;
  if (isWriteTestCode(code)) {
    job.permission.volumes = readVolumeMap(mountInfoPathFor(*ctx->port, session.simDir));
    std::string refusal =
        rawWriteRefusal(*ctx, drive, job.params.ulStartLba, job.params.ulEndLba, job.permission);
    if (!refusal.empty()) {
      if (ctx->port->name() != "sim" && !o.confirmDataLoss && refusal.find("consent") != std::string::npos) {
        refusal = formatText("%s destroys the data of Physical Drive %d from LBA 0x%X to 0x%X: give --confirm-data-loss",
                             o.test.c_str(), physical, job.params.ulStartLba, job.params.ulEndLba);
      }
      return (void)usage(session, refusal);
    }
  }

  StringSink captured;
  job.messages = session.json ? static_cast<MessageSink*>(&captured) : &session.pane();
  ctx->fgStopRequest = 0;
  ctx->fgBusy = 1;
  MediaTestResult result;
  {
    InterruptIsStop interrupt(ctx->fgStopRequest);
    result = MediaTestWorker(*ctx, job);
  }
  ctx->fgStopRequest = 0;
  if (!result.started) {
    session.fail(kExitUsage);
  } else if (!result.passed()) {
    session.fail(kExitFailed);
  }
  if (session.json)
    session.setResult(summaryJson(o.test, physical, job.params, result, captured.text()));
}

void install(CLI::App& app, Session& session) {
  auto o = std::make_shared<TestOptions>();
  CLI::App* test = app.add_subcommand("test", "Run a raw-drive media test (the test dialog of the Func menu)");
  test->add_option("test", o->test, "seq-read, rnd-access, seq-write or rnd-write")->required();
  test->add_option("--slba", o->slba, "SLBA: first LBA (hex)");
  test->add_option("--elba", o->elba, "ELBA: end of the range, never itself touched (hex; default the last LBA)");
  test->add_option("--blks", o->blks, "Blks: blocks per command (hex, default 20)");
  test->add_option("--loop", o->loop, "Loop: laps, reads or writes (default 1; rnd-write 100)");
  test->add_option("--length", o->length, "Length: read commands per measured group (seq-read)");
  test->add_option("--align", o->align, "Align: round each start up to a multiple of N");
  test->add_flag("--rnd-blks", o->rndBlks, "RndBlks: random block counts below Blks");
  test->add_flag("--verify", o->verify, "Verify: check the block stamps of what is read (default for write tests)");
  test->add_flag("--no-verify", o->noVerify, "Do not check the block stamps");
  test->add_flag("--no-ncq", o->noNcq, "Plain commands instead of the 16-slot queue");
  test->add_option("--max-err", o->maxErr, "MaxErr: failures tolerated (default 0)");
  test->add_option("--max-time", o->maxTime, "MaxTime: slowest random read allowed, ms (default 0: no limit)");
  test->add_option("--avg-time", o->avgTime, "AvgTime: average random read allowed, ms (default 0: no limit)");
  test->add_option("--seed", o->seed, "Random seed (default: the current time in seconds)");
  test->add_flag("--confirm-data-loss", o->confirmDataLoss,
                 "Let a write test destroy the data in [SLBA, ELBA) of a real drive");
  test->callback([&session, o] { runTest(session, *o); });
}

CommandRegistrar reg{"test", &install};

}  // namespace

}  // namespace zorv::cli

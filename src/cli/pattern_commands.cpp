// zorvctl pattern: the data pattern generator tab from the command line.
//
//   zorvctl [--sim DIR] [--drive N] pattern write|read|gen
//       [--value HEX [--width dword|word|byte] [--increase|--decrease] | --string TEXT | --random]
//       [--sectors HEX] [--stamp-offset N] [--stamp-lba] [--stamp-time] [--stamp-serial] [--serial HEX]
//       [--start-pct P --end-pct P | --start-lba HEX --end-lba HEX] [--shift HEX] [--loop HEX]
//       [--loop-kind capacity|command] [--shift-random] [--length-random] [--compare simple|total]
//       [--command dma|dma-ext|scsi] [--err-limit N] [--no-log] [--quiet] [--seed N]
//       [--confirm-data-loss] [--json] [--out FILE] [--ascii]
//
// write: Gen Data, then the Write worker; read: "Only Read" checked, then
// the read-only worker; gen: Gen Data only, the pattern into --out FILE (or
// its view on stdout). The tab's lines go to stdout as the box shows them,
// with a line of the counters every second and one at the end;
// "CompErrLog.txt" is written in the current directory unless --no-log.
// Options left out keep the tab's defaults. Exit status 0 when the run ended
// without errors, 1 when it found errors or was stopped (Ctrl-C), 2 for
// input the tab refuses, a drive that may not be written, or a write on a
// real device without --confirm-data-loss.

#include <nlohmann/json.hpp>

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "cli/command_registry.h"
#include "cli/identify_cli_support.h"
#include "cli/interrupt_stop.h"
#include "cli/json_text.h"
#include "cli/session.h"
#include "discovery/enumerate.h"
#include "discovery/volumes.h"
#include "pattern/gen_data.h"
#include "pattern/pattern_worker.h"

namespace zorv::cli {

namespace {

using nlohmann::json;

struct PatternOptions {
  std::string mode;
  std::optional<std::string> value, width, text, sectors, stampOffset, serial, startPct, endPct, startLba, endLba,
      shift, loop, loopKind, compare, command, errLimit, out;
  bool increase = false, decrease = false, random = false;
  bool stampLba = false, stampTime = false, stampSerial = false;
  bool shiftRandom = false, lengthRandom = false, noLog = false, quiet = false, ascii = false;
  bool confirmDataLoss = false;
  std::optional<uint32_t> seed;
};

bool usage(Session& session, const std::string& text) {
  session.err() << "zorvctl: " << text << '\n';
  session.fail(kExitUsage);
  return false;
}

// "0x" is how hexadecimal is usually typed on a command line; the edits hold the digits.
std::string hexText(std::string text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.erase(0, 2);
  return text;
}

// A percentage with at most one decimal, in tenths.
bool parsePermille(const std::string& text, uint32_t& permille) {
  size_t dot = text.find('.');
  std::string whole = text.substr(0, dot);
  std::string tenth = dot == std::string::npos ? "0" : text.substr(dot + 1);
  if (whole.empty() || whole.size() > 3 || tenth.size() != 1) return false;
  uint32_t w = 0, t = 0;
  auto [e1, c1] = std::from_chars(whole.data(), whole.data() + whole.size(), w);
  auto [e2, c2] = std::from_chars(tenth.data(), tenth.data() + tenth.size(), t);
  if (c1 != std::errc() || e1 != whole.data() + whole.size() || c2 != std::errc() || e2 != tenth.data() + 1)
    return false;
  permille = w * 10 + t;
  return true;
}

template <typename E>
bool pick(Session& session, const char* option, const std::string& text,
          std::initializer_list<std::pair<const char*, E>> choices, E& out) {
  std::string names;
  for (const auto& [name, value] : choices) {
    if (text == name) {
      out = value;
      return true;
    }
    names += (names.empty() ? "" : ", ") + std::string(name);
  }
  return usage(session, std::string(option) + ": one of " + names);
}

// The options onto the tab's controls, as a person would set them.
bool fillTab(Session& session, const PatternOptions& o, CGenData& tab) {
  GenDataControls& c = tab.controls;
  if (int(o.value.has_value()) + int(o.text.has_value()) + int(o.random) > 1)
    return usage(session, "--value, --string and --random exclude each other");
  if (o.increase && o.decrease) return usage(session, "--increase and --decrease exclude each other");
  if ((o.startPct || o.endPct) && (o.startLba || o.endLba))
    return usage(session, "--start-pct/--end-pct and --start-lba/--end-lba exclude each other");
  if (o.text) c.kind = PatternKind::String, c.text = *o.text;
  if (o.random) c.kind = PatternKind::Random;
  if (o.value) c.kind = PatternKind::CustomValue, c.value = hexText(*o.value);
  if (o.width &&
      !pick(session, "--width", *o.width,
            {{"dword", ElementWidth::Dword}, {"word", ElementWidth::Word}, {"byte", ElementWidth::Byte}}, c.width))
    return false;
  if (o.increase) c.step = ElementStep::Increase;
  if (o.decrease) c.step = ElementStep::Decrease;
  if (o.sectors) c.sectorNumber = hexText(*o.sectors);

  if (o.mode == "read") tab.setOnlyRead(true);
  const bool stampsGiven = o.stampLba || o.stampTime || o.stampSerial;
  if (stampsGiven) {
    tab.setStampRecord(true);
    c.stampLba = o.stampLba;
    c.stampTime = o.stampTime;
    c.stampSerial = o.stampSerial;
  }
  if (o.stampOffset) {
    tab.setStampRecord(true);
    c.offset = *o.stampOffset;
  }
  if (o.serial) c.serial = hexText(*o.serial);

  uint32_t permille = 0;
  if (o.startPct) {
    if (!parsePermille(*o.startPct, permille) || permille >= 1000)
      return usage(session, "--start-pct: a percentage from 0 to below 100 (one decimal at most): " + *o.startPct);
    tab.setStartPermille(permille);
  }
  if (o.endPct) {
    if (!parsePermille(*o.endPct, permille) || permille == 0 || permille > 1000)
      return usage(session, "--end-pct: a percentage above 0 up to 100 (one decimal at most): " + *o.endPct);
    tab.setEndPermille(permille);
  }
  if (o.startLba) c.startLba = hexText(*o.startLba);
  if (o.endLba) c.endLba = hexText(*o.endLba);
  if (o.shift) c.shift = hexText(*o.shift);
  if (o.loop) c.loop = hexText(*o.loop);
  if (o.loopKind &&
      !pick(session, "--loop-kind", *o.loopKind, {{"capacity", LoopKind::Capacity}, {"command", LoopKind::Command}},
            c.loopKind))
    return false;
  if (o.mode != "read") {
    c.shiftRandom = o.shiftRandom;
    c.lengthRandom = o.lengthRandom;
  } else if (o.shiftRandom || o.lengthRandom) {
    return usage(session, "pattern read: --shift-random and --length-random are for writes");
  }
  if (o.compare &&
      !pick(session, "--compare", *o.compare, {{"simple", CompareKind::Simple}, {"total", CompareKind::Total}},
            c.compare))
    return false;
  if (o.command && !pick(session, "--command", *o.command,
                         {{"dma", PatternCommand::Dma}, {"dma-ext", PatternCommand::DmaExt},
                          {"scsi", PatternCommand::ScsiPass}},
                         c.command))
    return false;
  if (o.errLimit) {
    const auto& choices = CGenData::errLimitChoices();
    auto it = std::find(choices.begin(), choices.end(), *o.errLimit);
    if (it == choices.end()) return usage(session, "--err-limit: 1 to 10");
    c.errLimitIndex = static_cast<int>(it - choices.begin());
  }
  c.saveLog = !o.noLog;
  c.disableMessage = o.quiet;
  c.asciiView = o.ascii;
  return true;
}

uint32_t secondsNow() {
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
}

// The run's lines and the counter lines come from two threads: one lock
// keeps each line whole.
class LockedSink : public MessageSink {
 public:
  explicit LockedSink(MessageSink& inner) : inner_(inner) {}
  void append(std::string_view text, MessageKind kind) override {
    std::lock_guard lock(mutex_);
    inner_.append(text, kind);
  }
  void clear() override {}

 private:
  std::mutex mutex_;
  MessageSink& inner_;
};

json resultJson(const PatternOptions& o, int drive, const PatternRunParams& p, const PatternResult& r,
                const std::string& box) {
  json out = {
      {"mode", o.mode},
      {"drive", drive},
      {"parameters",
       {{"startLba", p.startLba},
        {"endLba", p.endLba},
        {"sectors", p.sectors},
        {"shift", p.shift},
        {"loop", p.loop},
        {"errLimit", p.errLimit}}},
      {"verdict", !r.started ? "refused" : r.passed() && !r.stopped ? "passed" : r.stopped ? "stopped" : "failed"},
      {"commands", r.commands},
      {"errors", {{"total", r.errors}, {"compare", r.compareErrors}, {"write", r.writeFailures}, {"read", r.readFailures}}},
      {"errorLimitReached", r.errorLimitReached},
      {"bytesRead", r.bytesRead},
      {"bytesWritten", r.bytesWritten},
      {"box", box},
  };
  if (r.firstErrorLba) out["firstErrorLba"] = *r.firstErrorLba;
  if (!r.refusal.empty()) out["refusal"] = r.refusal;
  return out;
}

void runGen(Session& session, const PatternOptions& o) {
  // The drive's sector size when a drive is named, else 512 bytes.
  uint32_t sectorSize = 512;
  if (session.driveNumber) {
    Context* ctx = selectedDriveContext(session);
    if (!ctx) return;
    sectorSize = ctx->selectedDrive().usSectorSize;
  }
  CGenData tab;
  tab.initialise(0, sectorSize);
  if (!fillTab(session, o, tab)) return;
  std::string refusal = tab.genData(o.seed ? *o.seed : secondsNow());
  if (!refusal.empty()) {
    session.out() << genDataErrorText(refusal);
    session.fail(kExitUsage);
    return;
  }
  if (!o.out) {
    session.out() << tab.patternView();
    return;
  }
  std::ofstream file(*o.out, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(tab.pattern().data()), static_cast<std::streamsize>(tab.pattern().size()));
  file.close();
  if (!file) {
    session.err() << "zorvctl: " << *o.out << " cannot be written\n";
    session.fail(kExitFailed);
  }
}

void runPattern(Session& session, const PatternOptions& o) {
  if (o.mode == "gen") return runGen(session, o);
  if (o.mode != "write" && o.mode != "read") return (void)usage(session, "pattern: write, read or gen");
  if (o.out) return (void)usage(session, "--out belongs to pattern gen");
  Context* ctx = selectedDriveContext(session);
  if (!ctx) return;
  const DriveEntry drive = ctx->selectedDrive();
  const int physical = physicalDriveNumber(*ctx, drive.strDevicePath);

  CGenData tab;
  tab.initialise(drive.sectorCount(), drive.usSectorSize);
  if (!fillTab(session, o, tab)) return;
  std::string refusal;
  if (o.mode == "write") refusal = tab.genData(o.seed ? *o.seed : secondsNow());
  CGenData::RunSetup setup;
  if (refusal.empty()) {
    setup = tab.runParameters();
    refusal = setup.refusal;
  }
  if (!refusal.empty()) {
    session.out() << genDataErrorText(refusal);
    session.fail(kExitUsage);
    return;
  }

  PatternJob job;
  job.params = setup.params;
  job.drive = drive;
  job.seed = o.seed ? *o.seed : secondsNow() << 5;
  job.permission.userConsent = o.confirmDataLoss;
  job.permission.volumes = readVolumeMap(mountInfoPathFor(*ctx->port, session.simDir));
  PatternCounters counters;
  job.counters = &counters;

  StringSink captured;
  LockedSink out(session.json ? static_cast<MessageSink&>(captured) : session.pane());
  job.messages = &out;
  ctx->setMessagePane(out);
  ctx->fgStopRequest = 0;
  ctx->fgBusy = 1;
  PatternResult result;
  {
    InterruptIsStop interrupt(ctx->fgStopRequest);
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::thread worker([&] {
      PatternResult r = PatternWorker(*ctx, job);
      std::lock_guard lock(m);
      result = std::move(r);
      done = true;
      cv.notify_one();
    });
    std::unique_lock lock(m);
    while (!cv.wait_for(lock, std::chrono::seconds(1), [&] { return done; })) {
      if (!session.json) out.append(patternCounterLine(counters.tick()) + "\n", MessageKind::Normal);
    }
    lock.unlock();
    worker.join();
  }
  if (result.started && !session.json) out.append(patternCounterLine(counters.tick()) + "\n", MessageKind::Normal);
  ctx->setMessagePane(session.pane());
  ctx->fgStopRequest = 0;

  if (!result.started) {
    if (result.refusal.find("consent") != std::string::npos)
      session.err() << formatText("zorvctl: pattern write destroys the data of Physical Drive %d in its range: give "
                                  "--confirm-data-loss\n",
                                  physical);
    session.fail(kExitUsage);
  } else if (!result.passed() || result.stopped) {
    session.fail(kExitFailed);
  }
  if (session.json) session.setResult(resultJson(o, physical, job.params, result, captured.text()));
}

void install(CLI::App& app, Session& session) {
  auto o = std::make_shared<PatternOptions>();
  CLI::App* cmd = app.add_subcommand("pattern", "Data pattern generator: write, read back and compare (the Gen Data tab)");
  cmd->add_option("mode", o->mode, "write, read (Only Read) or gen")->required();
  cmd->add_option("--value", o->value, "Custom Value (hex, default 11223344)");
  cmd->add_option("--width", o->width, "dword, word or byte (default dword)");
  cmd->add_flag("--increase", o->increase, "Add its index to every element");
  cmd->add_flag("--decrease", o->decrease, "Subtract its index from every element");
  cmd->add_option("--string", o->text, "String pattern (at most 255 characters)");
  cmd->add_flag("--random", o->random, "Random pattern");
  cmd->add_option("--sectors", o->sectors, "Sector Number: sectors per command (hex, default 80)");
  cmd->add_option("--stamp-offset", o->stampOffset, "Stamp Record at this byte offset (decimal, default 32)");
  cmd->add_flag("--stamp-lba", o->stampLba, "Stamp each sector's LBA");
  cmd->add_flag("--stamp-time", o->stampTime, "Stamp the time");
  cmd->add_flag("--stamp-serial", o->stampSerial, "Stamp a serial number");
  cmd->add_option("--serial", o->serial, "First serial number (hex, default 00000000)");
  cmd->add_option("--start-pct", o->startPct, "Start as a percentage of the drive (default 0)");
  cmd->add_option("--end-pct", o->endPct, "End as a percentage of the drive (default 30)");
  cmd->add_option("--start-lba", o->startLba, "Start LBA (hex)");
  cmd->add_option("--end-lba", o->endLba, "End LBA, exclusive (hex); below the start the range wraps");
  cmd->add_option("--shift", o->shift, "Shft Addr/ Max Rdn Len (hex, default 80)");
  cmd->add_option("--loop", o->loop, "Loop count (hex, default 3)");
  cmd->add_option("--loop-kind", o->loopKind, "capacity (passes of the range, default) or command");
  cmd->add_flag("--shift-random", o->shiftRandom, "Random LBAs in the range");
  cmd->add_flag("--length-random", o->lengthRandom, "Random lengths up to the shift, without gaps");
  cmd->add_option("--compare", o->compare, "simple (stamps) or total (every byte); default none");
  cmd->add_option("--command", o->command, "dma, dma-ext or scsi");
  cmd->add_option("--err-limit", o->errLimit, "Errors that end the run, 1 to 10 (default 1)");
  cmd->add_flag("--no-log", o->noLog, "Do not append errors to CompErrLog.txt");
  cmd->add_flag("--quiet", o->quiet, "Disable Message: no line per command");
  cmd->add_option("--seed", o->seed, "Random seed (default: from the clock)");
  cmd->add_flag("--confirm-data-loss", o->confirmDataLoss, "Let pattern write destroy the data in its range of a real drive");
  cmd->add_option("--out", o->out, "pattern gen: write the pattern into this file");
  cmd->add_flag("--ascii", o->ascii, "pattern gen: show the pattern as text instead of hex");
  cmd->callback([&session, o] { runPattern(session, *o); });
}

CommandRegistrar reg{"pattern", &install};

}  // namespace

}  // namespace zorv::cli

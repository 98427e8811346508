// zorvctl volume: the volume tab of the media tests.
//
//   zorvctl [--sim DIR] volume list
//   zorvctl [--sim DIR] volume test --script FILE.sc3 [--volume MOUNT ...]
//
// "list" is the tab's "Parsing Drive": the texts it prints (leftover test
// files deleted, free-space failures), then the volume list, one volume a
// line with the list's columns separated by tabs.
//
// "test" parses the volumes, loads the script (its summary per volume) and
// runs one window per volume, all at once: every line a window's message box
// shows, led by "[<mount>] ", and once a second a line per running volume
// with its progress, the megabytes moved and the rate. Ctrl-C stops every
// window; each ends its transfers and prints its summary. Exit status 0 when
// every volume passed, 1 when one failed or was stopped, 2 for a script that
// cannot be used (nothing is started), a --volume that is not a mounted
// volume on a drive of the family, or a script that needs more than a
// volume's free space.

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

#include "cli/command_registry.h"
#include "cli/interrupt_stop.h"
#include "cli/session.h"
#include "discovery/volumes.h"
#include "volume/volume_list.h"
#include "volume/volume_test.h"

namespace zorv::cli {

namespace {

struct VolumeOptions {
  std::string script;
  std::vector<std::string> volumes;
};

bool usage(Session& session, const std::string& text) {
  session.err() << "zorvctl: " << text << '\n';
  session.fail(kExitUsage);
  return false;
}

// A window's message box on the shared stdout: whole lines, each led by the
// window's volume, never torn by another window's.
class VolumeLineSink : public MessageSink {
 public:
  VolumeLineSink(std::ostream& out, std::mutex& outMutex, std::string prefix)
      : out_(out), outMutex_(outMutex), prefix_(std::move(prefix)) {}
  ~VolumeLineSink() override { flushPartial(); }
  void append(std::string_view text, MessageKind) override {
    std::lock_guard lock(mutex_);
    pending_.append(text);
    size_t end;
    while ((end = pending_.find('\n')) != std::string::npos) {
      std::lock_guard outLock(outMutex_);
      out_ << prefix_ << std::string_view(pending_).substr(0, end + 1);
      out_.flush();
      pending_.erase(0, end + 1);
    }
  }
  void clear() override {}
  void flushPartial() {
    std::lock_guard lock(mutex_);
    if (pending_.empty()) return;
    std::lock_guard outLock(outMutex_);
    out_ << prefix_ << pending_ << "\r\n";
    pending_.clear();
  }

 private:
  std::ostream& out_;
  std::mutex& outMutex_;
  std::string prefix_;
  std::mutex mutex_;
  std::string pending_;
};

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::vector<VolumeRecord> parsedVolumes(Session& session, Context& ctx) {
  const VolumeMap map = readVolumes(*ctx.port, mountInfoPathFor(*ctx.port, session.simDir));
  return ParseVolumes(ctx, map, session.pane());
}

void printList(Session& session, const std::vector<VolumeRecord>& volumes, int type) {
  auto line = [&](const std::vector<std::string>& cells) {
    for (size_t i = 0; i < cells.size(); ++i) session.out() << (i ? "\t" : "") << cells[i];
    session.out() << '\n';
  };
  line(volumeListColumns(type));
  for (const VolumeRecord& v : volumes) line(volumeListRow(v, type));
}

void listVolumes(Session& session) {
  Context* ctx = session.enumeratedContext();
  if (!ctx) return;
  printList(session, parsedVolumes(session, *ctx), 0);
}

void testVolumes(Session& session, const VolumeOptions& o) {
  Sc3Script script;
  std::string error;
  if (!readSc3File(o.script, script, error)) return (void)usage(session, o.script + ": " + error);
  Context* ctx = session.enumeratedContext();
  if (!ctx) return;
  std::vector<VolumeRecord> found = parsedVolumes(session, *ctx);
  std::vector<VolumeRecord> chosen;
  if (o.volumes.empty()) {
    chosen = found;
  } else {
    for (const std::string& wanted : o.volumes) {
      bool known = false;
      for (const VolumeRecord& v : found) {
        if (withoutTrailingSlash(v.mountPoint) != withoutTrailingSlash(wanted)) continue;
        known = true;
        bool twice = false;
        for (const VolumeRecord& c : chosen) twice = twice || c.mountPoint == v.mountPoint;
        if (!twice) chosen.push_back(v);
      }
      if (!known) return (void)usage(session, wanted + " is not a mounted volume on a drive of the family");
    }
  }
  if (chosen.empty()) return (void)usage(session, "no mounted volume on a drive of the family");
  LoadVolumePlan(chosen, script, session.pane());
  printList(session, chosen, script.type);
  bool refused = false;
  for (const VolumeRecord& v : chosen) {
    const std::string refusal = volumeRefusal(v, script);
    if (!refusal.empty()) refused = !usage(session, refusal);
  }
  if (refused) return;

  std::mutex outMutex;
  VolumeRunBoard board;
  std::vector<std::unique_ptr<VolumeLineSink>> sinks;
  std::vector<std::unique_ptr<VolumeTestWindow>> windows;
  bool allStarted = true;
  for (const VolumeRecord& v : chosen) {
    sinks.push_back(std::make_unique<VolumeLineSink>(session.out(), outMutex, "[" + v.mountPoint + "] "));
    auto w = std::make_unique<VolumeTestWindow>(*ctx, v, script, board, *sinks.back(), session.ui());
    if (w->start()) {
      windows.push_back(std::move(w));
    } else {
      allStarted = false;
    }
  }
  std::atomic<uint8_t> interrupted{0};
  {
    InterruptIsStop interrupt(interrupted);
    bool running = true;
    while (running) {
      for (int i = 0; i < 10 && running; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        running = false;
        for (auto& w : windows) running = running || !w->finished();
        if (interrupted.load())
          for (auto& w : windows) w->requestStop();
      }
      for (auto& w : windows) {
        const bool wasRunning = !w->finished();
        w->tick();
        if (!wasRunning) continue;
        const double seconds = std::max(w->secondsRunning(), 0.001);
        std::lock_guard lock(outMutex);
        session.out() << "[" << w->volume().mountPoint << "] " << w->progressPercent() << "% "
                      << (w->bytesMoved() >> 20) << " MB "
                      << static_cast<uint64_t>(static_cast<double>(w->bytesMoved() >> 20) / seconds) << " MB/s\n";
      }
    }
  }
  bool allPassed = allStarted;
  for (auto& w : windows) {
    w->tick();
    w->close();
    allPassed = allPassed && w->passed();
  }
  for (auto& s : sinks) s->flushPartial();
  if (!allPassed) session.fail(kExitFailed);
}

void install(CLI::App& app, Session& session) {
  CLI::App* volume = app.add_subcommand("volume", "The volume file test on mounted volumes of the family's drives");
  volume->require_subcommand(1);
  CLI::App* list = volume->add_subcommand("list", "List the mounted volumes on drives of the family (Parsing Drive)");
  list->callback([&session] { listVolumes(session); });
  auto o = std::make_shared<VolumeOptions>();
  CLI::App* test = volume->add_subcommand("test", "Run a .sc3 script on volumes, all at once");
  test->add_option("--script", o->script, "The .sc3 script")->required()->type_name("FILE.sc3");
  test->add_option("--volume", o->volumes, "A volume by its mount point (default: every volume listed)")
      ->type_name("MOUNT");
  test->callback([&session, o] { testVolumes(session, *o); });
}

CommandRegistrar reg{"volume", &install};

}  // namespace

}  // namespace zorv::cli

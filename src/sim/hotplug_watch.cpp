// Device arrival and removal for the simulated bay. Any process that changes
// the bay (zorvctl sim plug/unplug/fault power-cycle, a test, the program
// itself) bumps the bay's change counter; the watcher compares the slots it
// last saw with bay.json and reports what came and went, with the interface
// name a real disk notification would carry. inotify on the directory wakes a
// waiting poll when bay.json is replaced; elsewhere the counter is looked at
// every 50 ms.

#ifdef __linux__
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>
#endif

#include <array>
#include <chrono>
#include <thread>

#include "sim/bay_store.h"
#include "sim/sim_bay.h"

namespace zorv::sim {

namespace {

struct SeenSlot {
  bool present = false;
  uint64_t generation = 0;
  uint64_t driveId = 0;
  std::string name;
};

class BayWatch : public DeviceEventSource {
 public:
  explicit BayWatch(std::shared_ptr<SimBay> bay) : bay_(std::move(bay)) {
    BayRecord record;
    std::string error;
    seq_ = bay_->store().sequence();
    uint64_t readSeq = 0;
    if (bay_->store().read(record, readSeq, error)) {
      seq_ = readSeq;
      remember(record);
    }
#ifdef __linux__
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ >= 0) ::inotify_add_watch(inotify_, bay_->dir().c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);
#endif
  }

  ~BayWatch() override {
#ifdef __linux__
    if (inotify_ >= 0) ::close(inotify_);
#endif
  }

  bool poll(std::vector<DeviceEvent>& out, int timeoutMs) override {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
      size_t before = out.size();
      if (!collect(out)) return false;
      if (out.size() > before) return true;
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return true;
      // The counter is bumped just after the rename that wakes us, so do not
      // sleep long on a wake-up that came too early.
      int wait = static_cast<int>(std::min<int64_t>(left.count(), 50));
#ifdef __linux__
      if (inotify_ >= 0) {
        pollfd p{inotify_, POLLIN, 0};
        if (::poll(&p, 1, wait) > 0) drain();
        continue;
      }
#endif
      std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    }
  }

 private:
#ifdef __linux__
#ifdef __linux__
  void drain() {
    alignas(inotify_event) char buf[4096];
    while (::read(inotify_, buf, sizeof buf) > 0) {
    }
  }
#endif
#endif

  void remember(const BayRecord& record) {
    for (int i = 0; i < kBaySlots; ++i) {
      const SlotRecord& s = record.slots[static_cast<size_t>(i)];
      SeenSlot& seen = slots_[static_cast<size_t>(i)];
      seen.present = s.present();
      seen.generation = s.generation;
      seen.driveId = s.drive ? s.drive->id : 0;
      seen.name = s.present() ? SimBay::interfaceName(i, *s.drive) : std::string();
    }
  }

  bool collect(std::vector<DeviceEvent>& out) {
    if (bay_->store().sequence() == seq_) return true;
    BayRecord record;
    std::string error;
    uint64_t readSeq = 0;
    if (!bay_->store().read(record, readSeq, error)) return false;
    seq_ = readSeq;
    for (int i = 0; i < kBaySlots; ++i) {
      const SlotRecord& s = record.slots[static_cast<size_t>(i)];
      const SeenSlot& seen = slots_[static_cast<size_t>(i)];
      bool changed = seen.generation != s.generation || seen.driveId != (s.drive ? s.drive->id : 0);
      if (seen.present && (!s.present() || changed)) out.push_back({DeviceEventKind::Removal, seen.name});
      if (s.present() && (!seen.present || changed))
        out.push_back({DeviceEventKind::Arrival, SimBay::interfaceName(i, *s.drive)});
    }
    remember(record);
    return true;
  }

  std::shared_ptr<SimBay> bay_;
  std::array<SeenSlot, kBaySlots> slots_{};
  uint64_t seq_ = 0;
  int inotify_ = -1;
};

}  // namespace

std::unique_ptr<DeviceEventSource> SimBay::watch() { return std::make_unique<BayWatch>(shared_from_this()); }

}  // namespace zorv::sim

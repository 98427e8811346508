#pragma once
// The media tests against the simulated bay: a bay with a ManualClock (the
// latency model's times are exact), a port that forwards to it and records
// every media command (so a test can see that nothing left the range) and
// can raise the stop flag after a number of them, and a sink that keeps
// each line with its style.

#include <atomic>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "mediatest/media_test_worker.h"
#include "support/sim_fixture.h"

namespace zorv::test {

struct MediaCommand {
  std::string path;
  bool write = false;
  bool queued = false;
  uint32_t lba = 0;
  uint32_t count = 0;
};

class SpyPort : public DevicePort {
 public:
  explicit SpyPort(DevicePort& inner) : inner_(inner) {}
  std::string_view name() const override { return inner_.name(); }
  std::string physicalDrivePath(int n) const override { return inner_.physicalDrivePath(n); }
  IoOutcome queryBusType(const std::string& path, uint8_t& bus) override { return inner_.queryBusType(path, bus); }
  IoOutcome ataPassThrough(const std::string& path, AtaPassThroughRequest& r) override {
    return inner_.ataPassThrough(path, r);
  }
  IoOutcome scsiPassThrough(const std::string& path, ScsiRequest& r) override {
    note(path, r, false);
    return inner_.scsiPassThrough(path, r);
  }
  IoOutcome submitQueued(const std::string& path, int slot, ScsiRequest& r) override {
    note(path, r, true);
    return inner_.submitQueued(path, slot, r);
  }
  SlotState pollSlot(int slot) override { return inner_.pollSlot(slot); }
  void drainQueue() override { inner_.drainQueue(); }
  void waitQueued(std::chrono::milliseconds timeout) override { inner_.waitQueued(timeout); }
  void abandonQueue() override { inner_.abandonQueue(); }
  bool carriesAtaDataByte() const override { return inner_.carriesAtaDataByte(); }
  IoOutcome probeExclusive(const std::string& path) override { return inner_.probeExclusive(path); }

  std::vector<MediaCommand> commands;
  // Raised once this many media commands have been sent.
  std::atomic<uint8_t>* stop = nullptr;
  size_t stopAfter = std::numeric_limits<size_t>::max();

  size_t writes() const;
  // Every media command lies in [first, end).
  bool allInside(uint64_t first, uint64_t end) const;

 private:
  void note(const std::string& path, const ScsiRequest& r, bool queued);
  DevicePort& inner_;
};

class LineSink : public MessageSink {
 public:
  void append(std::string_view text, MessageKind kind) override;
  void clear() override;
  std::string text() const;
  // The lines printed in a style, in order, without their line ends.
  std::vector<std::string> linesOf(MessageKind kind) const;
  size_t count(std::string_view line) const;
  MessageKind kindOf(std::string_view line) const;  // of its first appearance

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<MessageKind, std::string>> parts_;
};

struct MediaSim {
  // The default bay with the drive of slot selected; capacity != 0 makes the
  // drive of slot 0 that big first.
  explicit MediaSim(int slot = 0, uint64_t capacity = 0);
  bool ok() const { return sim.ok(); }
  Context& ctx() { return sim.ctx(); }
  int slot();  // of the selected drive
  bool setLatency(sim::LatencyModel model);
  bool addFault(const sim::Fault& fault);
  // Runs the test through MediaTestWorker on the selected drive.
  MediaTestResult run(const MediaTestParams& params, uint32_t seed = 1);

  SimFixture sim;
  std::unique_ptr<SpyPort> spy;
  LineSink lines;
  RawWritePermission permission;
};

// Parameters of a test with the queue off and no verification, as a start.
MediaTestParams testParams(uint16_t opCode, uint32_t start, uint32_t end, uint32_t blocks, uint32_t loop);

}  // namespace zorv::test

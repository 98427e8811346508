#include "volume/volume_test.h"

#include <algorithm>
#include <cstring>

#include "mediatest/test_random.h"
#include "transport/ata_command.h"
#include "transport/command_outcome.h"
#include "volume/test_file.h"

namespace zorv {

namespace {

constexpr uint64_t kSector = 512;
constexpr uint32_t kFixedWord = 0x55AA9966;
// The first phase of type 1 stops while this many pieces of the range and of
// the free space are still ahead.
constexpr uint64_t kRoomPieces = 18;

void fillCounting(uint8_t* out, uint64_t length, uint8_t start) {
  for (uint64_t i = 0; i < length; ++i) out[i] = static_cast<uint8_t>(start + i);
}

void putLe64(uint8_t* out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Type 2 data at file position pos (a sector boundary): the pattern at the
// same position modulo its size, each sector led by its number in the pass.
void fillStamped(uint8_t* out, const uint8_t* pattern, uint64_t pos, uint64_t length) {
  for (uint64_t done = 0; done < length; done += kSector) {
    const uint64_t at = pos + done;
    std::memcpy(out + done, pattern + at % kPatternBufferSize, kSector);
    putLe64(out + done, at / kSector);
  }
}

bool matchesStamped(const uint8_t* data, const uint8_t* pattern, uint64_t pos, uint64_t length) {
  uint8_t stamp[8];
  for (uint64_t done = 0; done < length; done += kSector) {
    const uint64_t at = pos + done;
    putLe64(stamp, at / kSector);
    if (std::memcmp(data + done, stamp, 8) != 0) return false;
    if (std::memcmp(data + done + 8, pattern + at % kPatternBufferSize + 8, kSector - 8) != 0) return false;
  }
  return true;
}

// A piece of the written area for the random phase of type 1.
uint64_t randomPiece(TestRandom& random, uint64_t pieces) {
  for (int i = 0; i < 3; ++i) random.next();
  const uint64_t high = random.next();
  const uint64_t joined = (high << 15) | random.next();
  return joined % pieces;
}

}  // namespace

VolumeTestWindow::VolumeTestWindow(Context& parent, const VolumeRecord& volume, const Sc3Script& script,
                                   VolumeRunBoard& board, MessageSink& box, UserInterface& ui,
                                   VolumeTestOptions options)
    : parent_(parent),
      volume_(volume),
      script_(script),
      board_(board),
      box_(box),
      ui_(ui),
      options_(std::move(options)),
      residual_(volume.freeBytes) {}

VolumeTestWindow::~VolumeTestWindow() { close(); }

std::string VolumeTestWindow::title() const {
  return volume_.mountPoint + " <" + volume_.model + "> " + volume_.serial;
}

void VolumeTestWindow::say(const std::string& text) { AppendMessage(parent_, text, box_); }

bool VolumeTestWindow::start() {
  if (started_) return false;
  int error = 0;
  folder_ = openTestFolder(volume_.mountPoint, true, error);
  if (folder_ == kNoFile) {
    say(formatText("CreateDirError: %d\r\n", error));
    return false;
  }
  started_ = true;
  startedAt_ = parent_.clock->now();
  worker_ = std::thread([this] { work(); });
  return true;
}

void VolumeTestWindow::fail() {
  if (!failed_.exchange(true)) board_.failedWindows.fetch_add(1);
  stop_.store(1);
}

double VolumeTestWindow::secondsRunning() const {
  if (!started_) return 0;
  const int64_t ms = elapsedMs_.load();
  if (ms >= 0) return static_cast<double>(ms) / 1000.0;
  return std::chrono::duration<double>(parent_.clock->now() - startedAt_).count();
}

int VolumeTestWindow::progressPercent() const {
  const uint64_t total = std::max<uint64_t>(progressTotal_.load(), 1);
  return static_cast<int>(std::min<uint64_t>(progressDone_.load(), total) * 100 / total);
}

VolumeTestStats VolumeTestWindow::stats() const {
  std::lock_guard lock(mutex_);
  return stats_;
}

std::string VolumeTestWindow::timeText(double seconds) const {
  const int64_t s = static_cast<int64_t>(seconds);
  return formatText("Hour: %d      Min: %d      Sec: %d", static_cast<int>(s / 3600),
                    static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
}

bool VolumeTestWindow::identify() {
  std::atomic<uint8_t> noStop{0};
  Context ctx(parent_, volume_.drive, box_, noStop);
  AtaTaskFile tf;
  tf.ucCommand = ata::kIdentifyDevice;
  tf.ucCount = 1;
  tf.ucDevice = 0x40;
  if (SendAtaCommand(ctx, false, tf, false, 512)) return true;
  say("....err IDENTIFY DEVICE: " + commandFailureText(ctx) + "\r\n");
  return false;
}

void VolumeTestWindow::work() {
  const Clock::TimePoint t0 = parent_.clock->now();
  NativeFile file = kNoFile;
  FileQueue queue;
  bool ok = false;
  int error = 0;
  const bool writeThrough = script_.type == 2;
  // Type 2 talks to the drive before it touches the file.
  if (script_.type == 2 && !identify()) {
    fail();
  } else if ((file = openTestFile(volume_.mountPoint, folder_, writeThrough, error)) == kNoFile) {
    say(formatText("....err CreateFile: %d\r\n", error));
    fail();
  } else {
    std::string why;
    const uint64_t slotBytes = script_.type == 1 ? script_.fileSize : script_.transferLast * kSector;
    if (!queue.open(file, slotBytes, why)) {
      say("...." + why + "\r\n");
      fail();
    } else {
      ok = script_.type == 1 ? workType1(queue) : workType2(queue);
    }
  }
  FileQueue::CloseReport closed = queue.close(std::chrono::milliseconds(300), std::chrono::seconds(30));
  if (closed.overdue > 0) say("WAIT_TIMEOUT 3\r\n");
  if (closed.abandoned == 0) closeNativeFile(file);  // an abandoned transfer keeps its file
  if (!ok) fail();
  if (stop_.load() && !failed_.load()) stoppedByRequest_.store(true);

  const double seconds = std::chrono::duration<double>(parent_.clock->now() - t0).count();
  VolumeTestStats s;
  {
    std::lock_guard lock(mutex_);
    stats_.close = closed;
    stats_.seconds = seconds;
    s = stats_;
  }
  const int64_t whole = static_cast<int64_t>(seconds);
  const long long mb = static_cast<long long>(s.bytesWritten >> 20);
  say(formatText("Throughput: %lld MB \r\nFiles %lld\r\n", mb, static_cast<long long>(s.files)));
  say(formatText("Spend Time\r\nHr: %d Min %d Sec: %d \r\n", static_cast<int>(whole / 3600),
                 static_cast<int>(whole / 60 % 60), static_cast<int>(whole % 60)));
  say(formatText("Avg Speed: %lldMB/Sec\r\n", mb / std::max<long long>(whole, 1)));
  elapsedMs_.store(static_cast<int64_t>(seconds * 1000));
  done_.store(true);
}

// Counts a finished transfer (the caller holds mutex_); true for a read
// whose data are to be compared. A failed transfer fails the window.
bool VolumeTestWindow::countCompletion(const FileQueue::Completion& c) {
  moved_.fetch_add(c.length);
  progressDone_.fetch_add(c.length);
  if (c.error != 0) {
    ++stats_.ioErrors;
    say(formatText(c.write ? "....err WriteFile: %d\r\n" : "....err ReadFile: %d\r\n", c.error));
    fail();
    return false;
  }
  if (c.write) {
    stats_.bytesWritten += c.length;
    return false;
  }
  stats_.bytesRead += c.length;
  return true;
}

// A read that differs from what was written (the caller holds mutex_).
void VolumeTestWindow::compareFailed() {
  ++stats_.compareFailures;
  say("....Compare Fail\r\n");
  failureBox_ = formatText("Error Occurs On Drive. %s:", volume_.mountPoint.c_str());
  fail();
}

bool VolumeTestWindow::workType1(FileQueue& queue) {
  const uint64_t size = script_.fileSize;
  const uint32_t length = static_cast<uint32_t>(size);
  AlignedBuffer expected(size);
  bool reading = false;
  queue.onComplete = [&](const FileQueue::Completion& c) {
    std::lock_guard lock(mutex_);
    if (!countCompletion(c)) return;
    if (reading && std::memcmp(queue.buffer(c.slot), expected.data(), c.length) != 0) {
      compareFailed();
    }
  };
  auto fillSlots = [&](uint8_t start) {
    fillCounting(expected.data(), size, start);
    for (int i = 0; i < FileQueue::kSlots; ++i) std::memcpy(queue.buffer(i), expected.data(), size);
  };
  auto waitAll = [&](int step) {
    int waitError = 0;
    if (queue.waitAll(waitError)) return true;
    std::lock_guard lock(mutex_);
    failureBox_ = formatText("WAIT_FAILED %d", step);
    return false;
  };

  // Phase 1: the written area, while 18 pieces of room remain in the range and on the volume.
  const uint64_t lastStart = script_.rangeSize - kRoomPieces * size;  // parseSc3 keeps this from wrapping
  const uint64_t count = script_.totalWriteCapacity / size;
  progressTotal_.store(lastStart + size + 2 * count * size);
  fillSlots(0);
  uint64_t offset = 0;
  uint64_t freeBytes = volume_.freeBytes;
  Clock::TimePoint freeAskedAt = parent_.clock->now();
  while (!stop_.load() && offset <= lastStart && freeBytes >= kRoomPieces * size) {
    const int slot = queue.acquire();
    if (slot < 0) return false;
    queue.write(slot, offset, length);
    {
      std::lock_guard lock(mutex_);
      ++stats_.files;
    }
    offset += size;
    if (parent_.clock->now() - freeAskedAt >= std::chrono::seconds(1)) {
      int error = 0;
      freeAskedAt = parent_.clock->now();
      if (!volumeFreeBytes(volume_.mountPoint, freeBytes, error)) freeBytes = 0;
    }
  }
  if (!waitAll(1)) return false;
  const uint64_t pieces = offset / size;
  if (stop_.load()) return true;
  if (pieces == 0) {
    say("....no room for one piece on the volume\r\n");
    return false;
  }

  // Phase 2: "Total Write Capacity" in pieces of the written area.
  const uint32_t seed = options_.seed.value_or(static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::seconds>(parent_.clock->now().time_since_epoch()).count()));
  auto pieceAt = [&](TestRandom& random, uint64_t k) {
    return script_.sequential ? k % pieces : randomPiece(random, pieces);
  };
  fillSlots(32);
  TestRandom writeOrder(seed);
  for (uint64_t k = 0; k < count && !stop_.load(); ++k) {
    const uint64_t piece = pieceAt(writeOrder, k);
    const int slot = queue.acquire();
    if (slot < 0) return false;
    queue.write(slot, piece * size, length);
    std::lock_guard lock(mutex_);
    ++stats_.files;
  }
  if (!waitAll(3)) return false;
  if (stop_.load()) return true;
  if (options_.afterWrites) options_.afterWrites();

  // Read back in the same order and compare.
  reading = true;
  TestRandom readOrder(seed);
  for (uint64_t k = 0; k < count && !stop_.load(); ++k) {
    const uint64_t piece = pieceAt(readOrder, k);
    const int slot = queue.acquire();
    if (slot < 0) return false;
    queue.read(slot, piece * size, length);
  }
  return waitAll(3);
}

bool VolumeTestWindow::workType2(FileQueue& queue) {
  AlignedBuffer pattern(kPatternBufferSize);
  if (script_.randomData) {
    TestRandom random(options_.seed.value_or(static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::seconds>(parent_.clock->now().time_since_epoch()).count())));
    for (uint64_t i = 0; i < kPatternBufferSize; ++i) pattern[i] = static_cast<uint8_t>(random.next());
  } else {
    for (uint64_t i = 0; i < kPatternBufferSize; i += 4) std::memcpy(&pattern[i], &kFixedWord, 4);
  }
  queue.onComplete = [&](const FileQueue::Completion& c) {
    std::lock_guard lock(mutex_);
    if (!countCompletion(c)) return;
    if (!matchesStamped(queue.buffer(c.slot), pattern.data(), c.offset, c.length)) {
      compareFailed();
    }
  };

  const Clock::TimePoint t0 = parent_.clock->now();
  const auto runTime = std::chrono::minutes(script_.runMinutes);
  const uint64_t length = script_.totalLengthBytes();
  uint64_t sectors = script_.transferFirst;
  while (!stop_.load() && parent_.clock->now() - t0 < runTime) {
    if (!identify()) return false;
    progressDone_.store(0);
    progressTotal_.store(2 * length);
    const uint64_t transfer = sectors * kSector;
    for (uint64_t pos = 0; pos < length && !stop_.load(); pos += transfer) {
      const uint64_t n = std::min(transfer, length - pos);
      const int slot = queue.acquire();
      if (slot < 0) return false;
      fillStamped(queue.buffer(slot), pattern.data(), pos, n);
      queue.write(slot, pos, static_cast<uint32_t>(n));
      std::lock_guard lock(mutex_);
      ++stats_.files;
    }
    int waitError = 0;
    if (!queue.waitAll(waitError)) return false;
    if (stop_.load()) break;
    if (options_.afterWrites) options_.afterWrites();
    for (uint64_t pos = 0; pos < length && !stop_.load(); pos += transfer) {
      const uint64_t n = std::min(transfer, length - pos);
      const int slot = queue.acquire();
      if (slot < 0) return false;
      queue.read(slot, pos, static_cast<uint32_t>(n));
    }
    if (!queue.waitAll(waitError)) return false;
    if (stop_.load()) break;
    {
      std::lock_guard lock(mutex_);
      ++stats_.passes;
    }
    sectors = sectors >= script_.transferLast ? script_.transferFirst : sectors + 1;
  }
  return true;
}

void VolumeTestWindow::tick() {
  if (!started_) return;
  std::string box;
  {
    std::lock_guard lock(mutex_);
    box.swap(failureBox_);
  }
  if (!box.empty()) ui_.messageBox(box, BoxIcon::Stop);
  if (done_.load() && !reportedDone_) {
    reportedDone_ = true;
    const VolumeTestStats s = stats();
    const double seconds = std::max(s.seconds, 1.0);
    const int rate = static_cast<int>(static_cast<double>((s.bytesWritten + s.bytesRead) >> 20) / seconds);
    if (script_.type == 1) {
      say(formatText("Job done. %s\r\nTime Spaned\r\n%s\r\nMByte/Second:%dMByte\r\n",
                     volume_.mountPoint.c_str(), timeText(s.seconds).c_str(), rate));
    } else {
      say(formatText("Job done. %s\r\nTime Spaned\r\n%s\r\nLength: 0x%llX Byte\r\nMByte/Second:%dMByte\r\n",
                     volume_.mountPoint.c_str(), timeText(s.seconds).c_str(),
                     static_cast<unsigned long long>(script_.totalLengthBytes()), rate));
    }
  }
  uint64_t freeBytes = 0;
  int error = 0;
  if (volumeFreeBytes(volume_.mountPoint, freeBytes, error)) {
    residual_.store(freeBytes);
  } else {
    say(formatText("GetDiskFreeSpaceEx Error: %d\r\n", error));
  }
  if (failed_.load() && !reportedFailure_) {
    reportedFailure_ = true;
    say(formatText("Error Occurs. %s\r\n", volume_.mountPoint.c_str()));
  }
  const int others = board_.failedWindows.load() - (failed_.load() ? 1 : 0);
  if (others > 0 && !reportedOther_) {
    reportedOther_ = true;
    say(formatText("Error Occurs On Other Dialog. %s\r\n", volume_.mountPoint.c_str()));
    stop_.store(1);
  }
}

void VolumeTestWindow::close() {
  stop_.store(1);
  if (worker_.joinable()) worker_.join();
  if (folder_ != kNoFile) {
    closeNativeFile(folder_);
    folder_ = kNoFile;
  }
}

}  // namespace zorv

#pragma once
// One volume window's work without its window: the test file on the volume,
// the worker of the script's type with its 16-slot queue, the once-a-second
// display and the close. The window (CLGRWSUB), zorvctl volume test and the
// tests drive the same object:
//
//   VolumeRunBoard board;                       // shared by the windows of one Run
//   VolumeTestWindow w(ctx, volume, script, board, box, ui);
//   if (!w.start()) ...;                        // "CreateDirError: %d\r\n" when the folder cannot be made
//   every second: w.tick();  show w.progressPercent()
//   w.close();                                  // waits for the transfers, then closes the file
//
// Type 1 writes "File Size" pieces at offsets 0, size, 2 x size, ... with the
// bytes (0 + i) mod 256, while 18 pieces of the range and of the free space
// are still ahead; then "Total Write Capacity" in pieces with (32 + i) mod
// 256 inside the written area, at consecutive pieces (wrapping to the first)
// or at random pieces; then reads the second phase's pieces back, in the same
// order, and compares. Random pieces: three values of the run's 0..32767
// generator are drawn and dropped, then two more are joined into a 30-bit
// number whose remainder by the number of written pieces is the piece.
//
// Type 2 writes "Total Length" megabytes from the start of the file in
// transfers of one size, the data taken from the 8 MiB pattern buffer at the
// same position (modulo 8 MiB) with the first 8 bytes of every sector
// replaced by its running sector number in the pass (little-endian, from 0),
// reads the pass back and compares. One pass per transfer size, from
// "Transfer Size" to "To" and then again from the first size; before each
// pass the drive gets an IDENTIFY DEVICE. "Run Time" is checked before each
// pass: a pass that has begun is finished and checked, so the run ends at
// the first pass boundary after the time has passed (or when stopped).
//
// Both wait for every write of a phase to finish before reading it back (a
// read overtaking its write would compare the old data), and a window stops
// at its first failure (a write or read error, a compare difference).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "transport/context.h"
#include "volume/file_queue.h"
#include "volume/sc3_script.h"
#include "volume/volume_list.h"

namespace zorv {

// What the windows of one Run share: whether one of them has failed.
struct VolumeRunBoard {
  std::atomic<int> failedWindows{0};
};

struct VolumeTestStats {
  uint64_t bytesWritten = 0;
  uint64_t bytesRead = 0;
  uint64_t files = 0;   // "File Size" pieces (type 1) or transfers (type 2) written
  uint64_t passes = 0;  // type 2: passes written, read back and compared
  uint64_t compareFailures = 0;
  uint64_t ioErrors = 0;
  FileQueue::CloseReport close;  // what closing the queue met
  double seconds = 0;
};

struct VolumeTestOptions {
  std::optional<uint32_t> seed;  // the random seed; default the clock's seconds
  // Called on the worker's thread once the writes of a phase (type 1: the
  // second phase; type 2: each pass) have finished, before they are read
  // back. Tests damage the file there.
  std::function<void()> afterWrites;
};

class VolumeTestWindow {
 public:
  VolumeTestWindow(Context& parent, const VolumeRecord& volume, const Sc3Script& script,
                   VolumeRunBoard& board, MessageSink& box, UserInterface& ui,
                   VolumeTestOptions options = {});
  ~VolumeTestWindow();
  VolumeTestWindow(const VolumeTestWindow&) = delete;
  VolumeTestWindow& operator=(const VolumeTestWindow&) = delete;

  // The window's title: the volume, the model in "<" ">", the serial.
  std::string title() const;
  const VolumeRecord& volume() const { return volume_; }
  // The volume's free space as the last tick found it.
  uint64_t residual() const { return residual_.load(); }

  // Makes the folder test ("CreateDirError: %d\r\n" on failure) and starts
  // the worker. False when it did not start.
  bool start();

  // Once a second: the progress, "Job done. %s" with the time when the
  // worker has finished, the free space, "Error Occurs. %s" when it has
  // failed, "Error Occurs On Other Dialog. %s" (and a stop) when another
  // window has; shows the failure box of a compare difference.
  void tick();
  int progressPercent() const;
  // The figures of the once-a-second line of zorvctl: bytes moved so far and
  // the seconds since the start.
  uint64_t bytesMoved() const { return moved_.load(); }
  double secondsRunning() const;

  void requestStop() { stop_.store(1); }
  // Stops the worker, waits for its transfers (the queue's close: up to
  // 300 ms for each busy slot, "WAIT_TIMEOUT 3" when one is overdue, and on
  // until they are all back) and closes the file.
  void close();

  bool running() const { return started_ && !done_.load(); }
  bool finished() const { return done_.load(); }
  bool failed() const { return failed_.load(); }
  bool stopped() const { return stoppedByRequest_.load(); }
  // Finished, neither failed nor stopped.
  bool passed() const { return done_.load() && !failed_.load() && !stoppedByRequest_.load(); }
  VolumeTestStats stats() const;

 private:
  void work();
  bool workType1(FileQueue& queue);
  bool workType2(FileQueue& queue);
  bool identify();
  void fail();
  bool countCompletion(const FileQueue::Completion& c);
  void compareFailed();
  void say(const std::string& text);
  std::string timeText(double seconds) const;

  Context& parent_;
  VolumeRecord volume_;
  Sc3Script script_;
  VolumeRunBoard& board_;
  MessageSink& box_;
  UserInterface& ui_;
  VolumeTestOptions options_;

  std::atomic<uint8_t> stop_{0};
  std::atomic<bool> done_{false};
  std::atomic<bool> failed_{false};
  std::atomic<bool> stoppedByRequest_{false};
  std::atomic<uint64_t> moved_{0};
  std::atomic<uint64_t> residual_{0};
  std::atomic<uint64_t> progressDone_{0};
  std::atomic<uint64_t> progressTotal_{1};
  bool started_ = false;
  bool reportedDone_ = false;
  bool reportedFailure_ = false;
  bool reportedOther_ = false;
  NativeFile folder_ = kNoFile;  // held open while the window runs: the folder cannot be swapped
  Clock::TimePoint startedAt_{};
  std::atomic<int64_t> elapsedMs_{-1};  // the worker's run time once it has finished
  mutable std::mutex mutex_;            // guards stats_ and failureBox_
  VolumeTestStats stats_;
  std::string failureBox_;
  std::thread worker_;
};

}  // namespace zorv

#pragma once
// MediaTestWorker: the body of the media-test worker thread. The window
// (after Send), zorvctl test and the tests drive the same function.
//
// It is handed at its start everything it works with: the drive (a copy of
// its table entry; a later change of the selection does not move the run),
// the stop flag, the message sink and the progress sink. It runs on a
// context of its own (its own sector buffer and queue), seeds the run's
// random numbers, runs the test of the test code and ends with "STOP!" or
// "Test Complete". The caller sets fgBusy when it starts the worker; the
// worker clears it when it ends, unless the caller keeps that to itself (the
// window's operation runner gives the drive back only after it has put the
// drive list back, so nothing slips in between).

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "mediatest/media_test_params.h"
#include "mediatest/media_test_run.h"
#include "mediatest/raw_write_guard.h"
#include "transport/context.h"

namespace zorv {

struct MediaTestJob {
  MediaTestParams params;
  DriveEntry drive;
  std::atomic<uint8_t>* stop = nullptr;  // nullptr: the parent context's fgStopRequest
  MessageSink* messages = nullptr;       // nullptr: the parent context's message pane
  ProgressSink* progress = nullptr;      // nullptr: none
  RawWritePermission permission;         // consulted by the write tests
  std::optional<uint32_t> seed;          // the random seed; default the current time in seconds
  bool releasesBusy = true;              // false: the caller clears the parent's fgBusy itself
};

struct MediaTestResult {
  bool started = false;  // false: refused before any command was sent
  std::string refusal;   // why (also printed as an error line)
  bool testPassed = false;  // what the test routine returned
  bool stopped = false;     // the stop flag ended the run
  double seconds = 0.0;     // the run's duration
  MediaTestStats stats;

  // The verdict zorvctl turns into its exit status.
  bool passed() const { return started && testPassed && !stopped; }
};

MediaTestResult MediaTestWorker(Context& parent, const MediaTestJob& job);

// The dialog's Abort: "Abort" (alert style) and two line breaks on the
// message pane; nothing is started.
void AbortMediaTest(Context& parent);

}  // namespace zorv

// The queue on Windows: overlapped ReadFile/WriteFile on a handle opened
// with FILE_FLAG_OVERLAPPED, each slot with its own OVERLAPPED record and
// manual-reset event, waited for with WaitForMultipleObjects.
#ifdef _WIN32

#include <windows.h>

#include <new>

#include "volume/file_queue.h"

namespace zorv {

const int FileQueue::kShortTransfer = ERROR_HANDLE_EOF;

struct FileQueue::OverlappedSlots {
  std::array<OVERLAPPED, kSlots> io{};
  std::array<HANDLE, kSlots> events{};

  ~OverlappedSlots() {
    for (HANDLE e : events)
      if (e) CloseHandle(e);
  }
};

namespace {
HANDLE handleOf(NativeFile f) { return static_cast<HANDLE>(f); }
}  // namespace

FileQueue::FileQueue() = default;
FileQueue::~FileQueue() { close(std::chrono::milliseconds(300), std::chrono::seconds(30)); }

bool FileQueue::open(NativeFile file, size_t slotBytes, std::string& error) {
  close(std::chrono::milliseconds(300), std::chrono::seconds(30));
  auto slots = std::make_unique<OverlappedSlots>();
  for (HANDLE& e : slots->events) {
    e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!e) {
      error = "CreateEvent: " + std::to_string(GetLastError());
      return false;
    }
  }
  if (!prepareSlots(file, slotBytes, error)) return false;
  overlapped_ = std::move(slots);
  ready_ = true;
  return true;
}

int FileQueue::collect(bool wait, std::optional<std::chrono::milliseconds> timeout) {
  const DWORD timeoutMs = timeout ? static_cast<DWORD>(timeout->count()) : INFINITE;
  for (;;) {
    int collected = 0;
    HANDLE busy[kSlots];
    DWORD busyCount = 0;
    for (int slot = 0; slot < kSlots; ++slot) {
      if (!slots_[static_cast<size_t>(slot)].busy) continue;
      OVERLAPPED& o = overlapped_->io[static_cast<size_t>(slot)];
      DWORD moved = 0;
      if (GetOverlappedResult(handleOf(fd_), &o, &moved, FALSE)) {
        finish(slot, static_cast<int>(moved));
        ++collected;
        continue;
      }
      const DWORD err = GetLastError();
      if (err == ERROR_IO_INCOMPLETE) {
        busy[busyCount++] = overlapped_->events[static_cast<size_t>(slot)];
        continue;
      }
      // A read that starts at or past the end of the file ends with EOF.
      finish(slot, err == ERROR_HANDLE_EOF ? 0 : -static_cast<int>(err));
      ++collected;
    }
    if (collected > 0 || !wait || busyCount == 0) return collected;
    const DWORD rc = WaitForMultipleObjects(busyCount, busy, FALSE, timeoutMs);
    if (rc == WAIT_TIMEOUT) return 0;
    if (rc == WAIT_FAILED) return -static_cast<int>(GetLastError());
  }
}

bool FileQueue::submit(int slot, bool write, uint64_t offset, uint32_t length) {
  Slot& s = slots_[static_cast<size_t>(slot)];
  s = Slot{true, write, offset, length};
  ++inFlight_;
  OVERLAPPED& o = overlapped_->io[static_cast<size_t>(slot)];
  o = OVERLAPPED{};
  o.Offset = static_cast<DWORD>(offset);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  o.hEvent = overlapped_->events[static_cast<size_t>(slot)];
  ResetEvent(o.hEvent);
  uint8_t* data = buffers_[static_cast<size_t>(slot)].data();
  const BOOL started = write ? WriteFile(handleOf(fd_), data, length, nullptr, &o)
                             : ReadFile(handleOf(fd_), data, length, nullptr, &o);
  if (!started) {
    const DWORD err = GetLastError();
    if (err != ERROR_IO_PENDING) {
      finish(slot, err == ERROR_HANDLE_EOF ? 0 : -static_cast<int>(err));
      return false;
    }
  }
  // Finished at once or pending: either way the event tells, and the next
  // collect picks the result up.
  return true;
}

void FileQueue::cancelInFlight() { CancelIoEx(handleOf(fd_), nullptr); }

void FileQueue::teardown(bool abandon) {
  // What still does not come back keeps its record and event for good.
  if (abandon) (void)overlapped_.release();
  overlapped_.reset();
}

}  // namespace zorv

#endif  // _WIN32

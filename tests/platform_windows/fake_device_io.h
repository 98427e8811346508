#pragma once
// Plays the driver behind the Windows backend: records every open and
// request, answers synchronous requests with a function the test sets, and
// keeps overlapped SCSI pass-through transfers pending until the test
// completes them, writing the record, the OVERLAPPED and the event as the
// system does.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "platform/windows/device_io.h"
#include "platform/windows/scsi_pass_through.h"

namespace zorv::platform::test {

// NTSTATUS values a driver completes with.
constexpr ULONG_PTR kStatusSuccess = 0;
constexpr ULONG_PTR kStatusIoTimeout = 0xC00000B5;  // GetLastError: ERROR_SEM_TIMEOUT
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;  // GetLastError: ERROR_OPERATION_ABORTED

class FakeDeviceIo final : public DeviceIo {
 public:
  enum class Answer { Pending, AtOnce, Fail };
  struct Issued {
    ScsiPassThroughRecord* record;
    OVERLAPPED* overlapped;
    bool completed = false;
  };
  struct Open {
    std::string path;
    DWORD share;
    DWORD flags;
  };
  struct Request {
    DWORD code;
    DWORD inSize;
    DWORD outSize;
    bool overlapped;
  };
  // A synchronous request: as DeviceIoControl.
  using Sync = std::function<BOOL(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned)>;

  FakeDeviceIo() : handle_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~FakeDeviceIo() override { CloseHandle(handle_); }

  HANDLE open(const std::string& path, DWORD share, DWORD flags) override {
    std::lock_guard lock(mutex_);
    opens.push_back(Open{path, share, flags});
    DWORD error = openError;
    if (exclusiveOpenError && share == 0) error = exclusiveOpenError;
    if (error) {
      SetLastError(error);
      return INVALID_HANDLE_VALUE;
    }
    ++openHandles;
    return handle_;
  }
  void close(HANDLE handle) override {
    std::lock_guard lock(mutex_);
    EXPECT_EQ(handle, handle_);
    --openHandles;
  }
  BOOL control(HANDLE handle, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
               OVERLAPPED* overlapped) override {
    std::lock_guard lock(mutex_);
    EXPECT_EQ(handle, handle_);
    requests.push_back(Request{code, inSize, outSize, overlapped != nullptr});
    if (!overlapped) {
      if (sync) return sync(code, in, inSize, out, outSize, returned);
      SetLastError(ERROR_INVALID_FUNCTION);
      return FALSE;
    }
    EXPECT_EQ(code, static_cast<DWORD>(IOCTL_SCSI_PASS_THROUGH_DIRECT));
    EXPECT_EQ(in, out);
    auto& record = *static_cast<ScsiPassThroughRecord*>(in);
    Answer answer = Answer::Pending;
    DWORD error = 0;
    if (!script.empty()) {
      std::tie(answer, error) = script.front();
      script.pop_front();
    }
    if (answer == Answer::Fail) {
      SetLastError(error);
      return FALSE;
    }
    issued.push_back(Issued{&record, overlapped});
    overlapped->Internal = STATUS_PENDING;
    if (answer == Answer::AtOnce) {
      completeLocked(issued.size() - 1, kStatusSuccess, 0, record.header.DataTransferLength);
      return TRUE;
    }
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
  }
  BOOL cancel(HANDLE handle, OVERLAPPED& overlapped) override {
    std::lock_guard lock(mutex_);
    EXPECT_EQ(handle, handle_);
    cancelled.push_back(&overlapped);
    if (cancelCompletes == CancelCompletes::AtOnce) {
      for (size_t i = 0; i < issued.size(); ++i)
        if (issued[i].overlapped == &overlapped && !issued[i].completed) completeLocked(i, kStatusCancelled, 0, 0);
    }
    return TRUE;
  }
  BOOL flush(HANDLE handle) override {
    std::lock_guard lock(mutex_);
    EXPECT_EQ(handle, handle_);
    ++flushes;
    return TRUE;
  }

  // The driver's completion of transfer i: the record first, then status,
  // count and event. CHECK CONDITION comes with MEDIUM ERROR sense.
  void complete(size_t i, ULONG_PTR status, uint8_t scsiStatus, DWORD bytes) {
    std::lock_guard lock(mutex_);
    completeLocked(i, status, scsiStatus, bytes);
  }
  void completeAll() {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < issued.size(); ++i)
      if (!issued[i].completed) completeLocked(i, kStatusSuccess, 0, issued[i].record->header.DataTransferLength);
  }
  size_t cancelledCount() {
    std::lock_guard lock(mutex_);
    return cancelled.size();
  }

  std::deque<std::pair<Answer, DWORD>> script;
  std::vector<Issued> issued;
  std::vector<OVERLAPPED*> cancelled;
  std::vector<Open> opens;
  std::vector<Request> requests;
  Sync sync;
  enum class CancelCompletes { AtOnce, Later } cancelCompletes = CancelCompletes::AtOnce;
  DWORD openError = 0;
  DWORD exclusiveOpenError = 0;
  int openHandles = 0;
  int flushes = 0;

 private:
  void completeLocked(size_t i, ULONG_PTR status, uint8_t scsiStatus, DWORD bytes) {
    Issued& t = issued.at(i);
    ASSERT_FALSE(t.completed);
    t.record->header.ScsiStatus = scsiStatus;
    t.record->header.DataTransferLength = bytes;
    if (scsiStatus == 0x02) {
      const uint8_t sense[18] = {0x70, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0x00, 0, 0, 0, 0};
      std::memcpy(t.record->sense, sense, sizeof sense);
      t.record->header.SenseInfoLength = 18;
    } else {
      t.record->header.SenseInfoLength = 0;
    }
    t.overlapped->InternalHigh = sizeof(ScsiPassThroughRecord);
    t.overlapped->Internal = status;
    t.completed = true;
    SetEvent(t.overlapped->hEvent);
  }

  HANDLE handle_;
  std::mutex mutex_;
};

}  // namespace zorv::platform::test

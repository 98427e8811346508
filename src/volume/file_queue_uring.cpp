// The queue on io_uring.
#ifndef _WIN32

#include <cerrno>
#include <cstring>

#include "volume/file_queue.h"

namespace zorv {

const int FileQueue::kShortTransfer = EIO;

FileQueue::FileQueue() = default;
FileQueue::~FileQueue() { close(std::chrono::milliseconds(300), std::chrono::seconds(30)); }

bool FileQueue::open(NativeFile fd, size_t slotBytes, std::string& error) {
  close(std::chrono::milliseconds(300), std::chrono::seconds(30));
  const int rc = io_uring_queue_init(kSlots, &ring_, 0);
  if (rc < 0) {
    error = std::string("io_uring: ") + std::strerror(-rc);
    return false;
  }
  if (!prepareSlots(fd, slotBytes, error)) {
    io_uring_queue_exit(&ring_);
    return false;
  }
  ready_ = true;
  return true;
}

int FileQueue::collect(bool wait, std::optional<std::chrono::milliseconds> timeout) {
  int collected = 0;
  io_uring_cqe* cqe = nullptr;
  if (wait) {
    __kernel_timespec t{};
    if (timeout) {
      t.tv_sec = timeout->count() / 1000;
      t.tv_nsec = (timeout->count() % 1000) * 1000000;
    }
    int rc;
    do {
      rc = timeout ? io_uring_wait_cqe_timeout(&ring_, &cqe, &t) : io_uring_wait_cqe(&ring_, &cqe);
    } while (rc == -EINTR);
    if (rc == -ETIME) return 0;
    if (rc < 0) return rc;
  }
  while (io_uring_peek_cqe(&ring_, &cqe) == 0 && cqe) {
    const int slot = static_cast<int>(io_uring_cqe_get_data64(cqe));
    const int res = cqe->res;
    io_uring_cqe_seen(&ring_, cqe);
    if (slot >= 0 && slot < kSlots) {
      finish(slot, res);
      ++collected;
    }
  }
  return collected;
}

bool FileQueue::submit(int slot, bool write, uint64_t offset, uint32_t length) {
  Slot& s = slots_[static_cast<size_t>(slot)];
  s = Slot{true, write, offset, length};
  ++inFlight_;
  io_uring_sqe* sqe = io_uring_get_sqe(&ring_);
  if (!sqe) {
    finish(slot, -EAGAIN);
    return false;
  }
  uint8_t* data = buffers_[static_cast<size_t>(slot)].data();
  if (write) {
    io_uring_prep_write(sqe, fd_, data, length, offset);
  } else {
    io_uring_prep_read(sqe, fd_, data, length, offset);
  }
  io_uring_sqe_set_data64(sqe, static_cast<uint64_t>(slot));
  const int rc = io_uring_submit(&ring_);
  if (rc < 0) {
    finish(slot, rc);
    return false;
  }
  return true;
}

void FileQueue::cancelInFlight() {}  // a transfer on the ring cannot be taken back from a device

void FileQueue::teardown(bool abandon) {
  if (!abandon) io_uring_queue_exit(&ring_);
}

}  // namespace zorv

#endif  // _WIN32

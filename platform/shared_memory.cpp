// shmget/shmat/shmdt/shmctl behind one owning handle.
#include "platform/shared_memory.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace lcx {

SharedMemory::SharedMemory(SharedMemory&& other) noexcept
    : id_(std::exchange(other.id_, -1)),
      data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      marked_(std::exchange(other.marked_, false)),
      error_(std::move(other.error_)) {}

SharedMemory& SharedMemory::operator=(SharedMemory&& other) noexcept {
  if (this != &other) {
    Reset();
    id_ = std::exchange(other.id_, -1);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    marked_ = std::exchange(other.marked_, false);
    error_ = std::move(other.error_);
  }
  return *this;
}

SharedMemory::~SharedMemory() { Reset(); }

bool SharedMemory::Create(size_t bytes) {
  Reset();
  error_.clear();
  if (bytes == 0) {
    error_ = "empty segment";
    return false;
  }
  const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  if (id < 0) {
    error_ = std::string("shmget: ") + std::strerror(errno);
    return false;
  }
  void* data = shmat(id, nullptr, 0);
  if (data == reinterpret_cast<void*>(-1)) {
    error_ = std::string("shmat: ") + std::strerror(errno);
    shmctl(id, IPC_RMID, nullptr);
    return false;
  }
  id_ = id;
  data_ = data;
  size_ = bytes;
  marked_ = false;
  return true;
}

void SharedMemory::MarkForRemoval() {
  if (id_ >= 0 && !marked_) shmctl(id_, IPC_RMID, nullptr);
  marked_ = id_ >= 0;
}

void SharedMemory::Reset() {
  MarkForRemoval();
  if (data_) shmdt(data_);
  id_ = -1;
  data_ = nullptr;
  size_ = 0;
  marked_ = false;
}

}  // namespace lcx

// A private System V shared-memory segment attached to this process, for
// handing pixel buffers to the X server without a copy. The segment is
// detached, and removed from the system, exactly once when the handle goes.
#pragma once

#include <cstddef>
#include <string>

namespace lcx {

class SharedMemory {
 public:
  SharedMemory() = default;
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;
  SharedMemory(SharedMemory&& other) noexcept;
  SharedMemory& operator=(SharedMemory&& other) noexcept;
  ~SharedMemory();

  // Creates a segment of `bytes` readable and writable by this user only and
  // attaches it here. False (holding nothing) on failure, the reason in error().
  bool Create(size_t bytes);
  // Marks the segment for removal: it then disappears with its last user,
  // even when this process is killed. Call once every other user (the X
  // server, which attaches by id) has attached.
  void MarkForRemoval();
  // Detaches the segment, removing it first when still unmarked.
  void Reset();

  bool is_open() const { return data_ != nullptr; }
  int id() const { return id_; }
  void* data() const { return data_; }
  size_t size() const { return size_; }
  const std::string& error() const { return error_; }

 private:
  int id_ = -1;
  void* data_ = nullptr;
  size_t size_ = 0;
  bool marked_ = false;
  std::string error_;
};

}  // namespace lcx

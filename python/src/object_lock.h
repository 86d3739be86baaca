// The lock of one capture object: calls take it with the GIL released, so
// that two threads never use one library object at once while other
// threads run Python meanwhile.

#ifndef CONTENTFILE_PYTHON_SRC_OBJECT_LOCK_H_
#define CONTENTFILE_PYTHON_SRC_OBJECT_LOCK_H_

#include <pybind11/pybind11.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "python/src/native_errors.h"

namespace contentfile_python {

class ObjectLock {
 public:
  // Runs `work` holding the lock, with the GIL released. REQUIRES: the GIL
  // is held; `work` touches no Python object. A thread that already holds
  // the lock (a callback of a streaming call turning back to its own
  // capture) gets ReentryFailure instead of a deadlock.
  template <typename Work>
  auto Run(Work&& work) {
    if (owner_.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
      throw ReentryFailure();
    }
    pybind11::gil_scoped_release release;
    std::lock_guard<std::mutex> guard(mutex_);
    Owner owner(&owner_);
    return work();
  }

 private:
  // Records the holding thread for the lock's lifetime.
  class Owner {
   public:
    explicit Owner(std::atomic<std::thread::id>* owner) : owner_(owner) {
      owner_->store(std::this_thread::get_id(), std::memory_order_relaxed);
    }
    ~Owner() { owner_->store(std::thread::id(), std::memory_order_relaxed); }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;

   private:
    std::atomic<std::thread::id>* owner_;
  };

  std::mutex mutex_;
  std::atomic<std::thread::id> owner_{};
};

}  // namespace contentfile_python

#endif  // CONTENTFILE_PYTHON_SRC_OBJECT_LOCK_H_

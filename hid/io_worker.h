// A thread that makes one interface's writes while the UI thread makes
// another's, so that the writes of one send run side by side: a real board's
// write returns only when its USB transfer is done. The worker only calls
// Backend::Write; no handler, log or listener ever runs on it.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <thread>

#include "hid/backend.h"

namespace pts::hid {

class IoWorker {
 public:
  // Every finished write decrements `pending` and wakes its waiter when it
  // reaches zero. `pending` must outlive the worker.
  IoWorker(Backend& backend, std::atomic<uint32_t>& pending);
  // Joins the thread; the worker must be idle (its last write waited for).
  ~IoWorker();
  IoWorker(const IoWorker&) = delete;
  IoWorker& operator=(const IoWorker&) = delete;

  // Starts writing `report` to `id`. The bytes and `*status` belong to the
  // worker until WaitForWrites has seen `pending` reach zero.
  void Start(DeviceId id, std::span<const uint8_t> report, IoStatus* status);

 private:
  void Run();

  Backend& backend_;
  std::atomic<uint32_t>& pending_;
  // The job is written before `seq_` is bumped (release) and read after the
  // worker sees the new value (acquire).
  DeviceId id_ = 0;
  std::span<const uint8_t> report_;
  IoStatus* status_ = nullptr;
  bool stop_ = false;
  std::atomic<uint32_t> seq_{0};
  std::thread thread_;
};

// Waits until every write started against `pending` has finished.
void WaitForWrites(std::atomic<uint32_t>& pending);

}  // namespace pts::hid

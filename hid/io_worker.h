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

// What the workers of one agent share: the round of writes now running and
// how many of its writes are not done yet.
class WriteRounds {
 public:
  // Starts the round: every worker given a job since the last round begins
  // it. One wake-up call for all of them, so the caller's own write is not
  // held back by one system call per worker.
  void Go(uint32_t jobs);
  // Returns when every write of the round has finished.
  void Wait();

 private:
  friend class IoWorker;
  std::atomic<uint32_t> round_{0};
  std::atomic<uint32_t> pending_{0};
};

class IoWorker {
 public:
  // `rounds` must outlive the worker.
  IoWorker(Backend& backend, WriteRounds& rounds);
  // Joins the thread; the worker must be idle (its last round waited for).
  ~IoWorker();
  IoWorker(const IoWorker&) = delete;
  IoWorker& operator=(const IoWorker&) = delete;

  // Gives the worker its write of the next round (see WriteRounds::Go). The
  // bytes and `*status` belong to the worker until WriteRounds::Wait returns.
  void Give(DeviceId id, std::span<const uint8_t> report, IoStatus* status);

 private:
  void Run();

  Backend& backend_;
  WriteRounds& rounds_;
  // The job and its round are written before the round starts (release) and
  // read after the worker sees it (acquire).
  DeviceId id_ = 0;
  std::span<const uint8_t> report_;
  IoStatus* status_ = nullptr;
  // Atomic because a worker without a job in a round may still be reading it
  // when the next round's job is given.
  std::atomic<uint32_t> job_round_{0};
  std::atomic<bool> stop_{false};
  uint32_t first_round_;  // the round when the worker was made; it waits for a later one
  std::thread thread_;
};

}  // namespace pts::hid

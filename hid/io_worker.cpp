#include "hid/io_worker.h"

#include <chrono>

namespace pts::hid {

namespace {

void Relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

}  // namespace

void WriteRounds::Go(uint32_t jobs) {
  pending_.store(jobs, std::memory_order_relaxed);
  round_.fetch_add(1, std::memory_order_release);
  round_.notify_all();
}

void WriteRounds::Wait() {
  // The writes of a round were started together and take about as long as
  // the one the caller made itself, so the others are usually done or nearly
  // done now: a short spin saves the wake-up of a sleep, which on a loaded or
  // virtual machine costs tens of microseconds.
  if (pending_.load(std::memory_order_acquire) == 0) return;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point until = Clock::now() + std::chrono::microseconds(50);
  for (int i = 0; pending_.load(std::memory_order_acquire) != 0; ++i) {
    if (i % 64 == 63 && Clock::now() >= until) break;
    Relax();
  }
  for (uint32_t n = pending_.load(std::memory_order_acquire); n != 0;
       n = pending_.load(std::memory_order_acquire)) {
    pending_.wait(n, std::memory_order_acquire);
  }
}

IoWorker::IoWorker(Backend& backend, WriteRounds& rounds)
    : backend_(backend),
      rounds_(rounds),
      first_round_(rounds.round_.load(std::memory_order_relaxed)),
      thread_([this] { Run(); }) {}

IoWorker::~IoWorker() {
  stop_.store(true, std::memory_order_relaxed);
  rounds_.round_.fetch_add(1, std::memory_order_release);
  rounds_.round_.notify_all();
  thread_.join();
}

void IoWorker::Give(DeviceId id, std::span<const uint8_t> report, IoStatus* status) {
  id_ = id;
  report_ = report;
  status_ = status;
  // Only the caller's thread starts rounds, so the next one is this.
  job_round_.store(rounds_.round_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

void IoWorker::Run() {
  uint32_t seen = first_round_;
  for (;;) {
    rounds_.round_.wait(seen, std::memory_order_acquire);
    seen = rounds_.round_.load(std::memory_order_acquire);
    if (stop_.load(std::memory_order_relaxed)) return;
    if (job_round_.load(std::memory_order_relaxed) != seen)
      continue;  // a round without a job for this worker
    *status_ = backend_.Write(id_, report_);
    // The waiter may return as soon as the count is zero; nothing of the job
    // is touched after it.
    if (rounds_.pending_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      rounds_.pending_.notify_one();
    }
  }
}

}  // namespace pts::hid

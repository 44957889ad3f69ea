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

void WriteRounds::WakePosted() {
  round_.fetch_add(1, std::memory_order_release);
  round_.notify_all();
}

void WriteRounds::WaitPosted() {
  for (uint32_t n = posted_.load(std::memory_order_acquire); n != 0;
       n = posted_.load(std::memory_order_acquire)) {
    posted_.wait(n, std::memory_order_acquire);
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
    if (job_round_.load(std::memory_order_relaxed) == seen) {
      *status_ = backend_.Write(id_, report_);
      // The waiter may return as soon as the count is zero; nothing of the job
      // is touched after it.
      if (rounds_.pending_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        rounds_.pending_.notify_one();
      }
    }
    WritePosted();
  }
}

std::optional<IoWorker::Tag> IoWorker::Post(DeviceId id, std::span<const uint8_t> report, Tag tag) {
  const std::lock_guard lock(post_mu_);
  std::optional<Tag> replaced;
  if (queued_ == kQueued) {
    replaced = queue_[head_].tag;
    head_ = (head_ + 1) % kQueued;
    --queued_;
  } else {
    // Counted before the worker can take it, so that its count never goes below zero.
    rounds_.posted_.fetch_add(1, std::memory_order_relaxed);
  }
  Queued& q = queue_[(head_ + queued_) % kQueued];
  q.id = id;
  q.tag = tag;
  q.bytes.assign(report.begin(), report.end());
  ++queued_;
  return replaced;
}

void IoWorker::TakeFinished(std::vector<PostedResult>* into) {
  const std::lock_guard lock(post_mu_);
  into->insert(into->end(), finished_.begin(), finished_.end());
  finished_.clear();
}

// Writes the queued words, and those queued meanwhile, until none waits.
void IoWorker::WritePosted() {
  for (;;) {
    DeviceId id = 0;
    Tag tag{};
    {
      const std::lock_guard lock(post_mu_);
      if (queued_ == 0) return;
      Queued& q = queue_[head_];
      head_ = (head_ + 1) % kQueued;
      --queued_;
      id = q.id;
      tag = q.tag;
      writing_.swap(q.bytes);  // both keep their capacity: no allocation per step
    }
    const IoStatus status = backend_.Write(id, writing_);
    {
      const std::lock_guard lock(post_mu_);
      finished_.push_back({tag.post, tag.k, status});
    }
    // The result is in place before the count says so.
    if (rounds_.posted_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      rounds_.posted_.notify_all();
    }
  }
}

}  // namespace pts::hid

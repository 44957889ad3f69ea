// A thread that makes one interface's writes while the UI thread makes
// another's, so that the writes of one send run side by side: a real board's
// write returns only when its USB transfer is done. The worker only calls
// Backend::Write; no handler, log or listener ever runs on it.
//
// Two kinds of job: a write of a round (WriteRounds::Go), which the UI thread
// waits for, and a posted write (Post), which it does not wait for. The agent
// never mixes them: it waits for every posted write before it starts a round.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

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

  // Wakes the workers for the writes posted since the last wake-up.
  void WakePosted();
  // Returns when no posted write is waiting or being written.
  void WaitPosted();

 private:
  friend class IoWorker;
  std::atomic<uint32_t> round_{0};
  std::atomic<uint32_t> pending_{0};
  std::atomic<uint32_t> posted_{0};  // posted writes queued or being written, all workers
};

// Which posted write finished, and how: `post` and `k` as given to Post.
struct PostedResult {
  uint64_t post = 0;
  uint32_t k = 0;
  IoStatus status = IoStatus::Failed;
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

  // Queues a copy of `report` as a posted write; the queued writes go out in
  // order, each once the one before is done, after WriteRounds::WakePosted.
  // At most kQueued wait: a board that falls behind for a moment (its thread
  // held up) catches up, one that stays behind does not fall further. When
  // the queue is full, the oldest waiting write is dropped, so the newest
  // word always goes out, and the dropped one's tag is returned.
  static constexpr std::size_t kQueued = 8;
  struct Tag {
    uint64_t post;
    uint32_t k;
  };
  std::optional<Tag> Post(DeviceId id, std::span<const uint8_t> report, Tag tag);
  // Moves the results of the posted writes finished since the last call into
  // `into`, in the order they were written.
  void TakeFinished(std::vector<PostedResult>* into);

 private:
  void Run();
  void WritePosted();

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

  // Posted writes. The queue (a ring of kQueued slots from `head_`) and
  // `finished_` are shared with the caller under `post_mu_`; `writing_` is
  // the worker's own.
  struct Queued {
    DeviceId id = 0;
    Tag tag{};
    std::vector<uint8_t> bytes;
  };
  std::mutex post_mu_;
  std::array<Queued, kQueued> queue_;
  std::size_t head_ = 0, queued_ = 0;
  std::vector<uint8_t> writing_;
  std::vector<PostedResult> finished_;

  std::thread thread_;
};

}  // namespace pts::hid

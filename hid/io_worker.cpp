#include "hid/io_worker.h"

namespace pts::hid {

IoWorker::IoWorker(Backend& backend, std::atomic<uint32_t>& pending)
    : backend_(backend), pending_(pending), thread_([this] { Run(); }) {}

IoWorker::~IoWorker() {
  stop_ = true;
  seq_.fetch_add(1, std::memory_order_release);
  seq_.notify_one();
  thread_.join();
}

void IoWorker::Start(DeviceId id, std::span<const uint8_t> report, IoStatus* status) {
  id_ = id;
  report_ = report;
  status_ = status;
  seq_.fetch_add(1, std::memory_order_release);
  seq_.notify_one();
}

void IoWorker::Run() {
  uint32_t seen = 0;
  for (;;) {
    seq_.wait(seen, std::memory_order_acquire);
    seen = seq_.load(std::memory_order_acquire);
    if (stop_) return;
    *status_ = backend_.Write(id_, report_);
    // The waiter may return as soon as the count is zero; nothing of the job
    // is touched after it.
    if (pending_.fetch_sub(1, std::memory_order_acq_rel) == 1) pending_.notify_one();
  }
}

void WaitForWrites(std::atomic<uint32_t>& pending) {
  for (uint32_t n = pending.load(std::memory_order_acquire); n != 0;
       n = pending.load(std::memory_order_acquire)) {
    pending.wait(n, std::memory_order_acquire);
  }
}

}  // namespace pts::hid

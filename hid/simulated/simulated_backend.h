// Boards inside the process, for demos, tests and benchmarks. Each board has
// the real board's report descriptor, a status byte reported in Data1 (stored
// model code in bits 7..4, unit code in bits 3..1) and an EEPROM in memory.
// Command 4 sets the output, 5 stores frequency and level, 6 stores the model
// code from F7 into the status byte's high nibble.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "hid/backend.h"
#include "hid/board.h"

namespace pts::hid {

// The board's report descriptor: vendor page 0xFF00, output report with usages
// 1..13 (Cmd1, PWMDC, PWMF, F1..F10, 8 bits each), input report with usage 14
// (Data1, 8 bits). No report ids.
std::vector<uint8_t> BoardReportDescriptor();

// Output report A in the order of the variables: Cmd1, PWMDC, PWMF, F1..F10.
using OutputWord = std::array<uint8_t, 13>;

struct BoardEeprom {
  bool frequency_stored = false;
  OutputWord stored_word{};   // the word last stored with command 5
  uint8_t model_code = 0xF0;  // high nibble of the status byte
};

class SimulatedBackend : public Backend {
 public:
  using Clock = std::chrono::steady_clock;
  // Called for every output report a board accepts, with the 1-based board
  // number, the time it arrived and the word. It runs on the thread that made
  // the write (an I/O worker of the agent among them), outside the backend's
  // lock, so it may call the backend; calls for different boards may overlap.
  using ReportObserver = std::function<void(int board, Clock::time_point at, const OutputWord&)>;

  explicit SimulatedBackend(Clock::time_point origin = Clock::now());
  ~SimulatedBackend() override;

  // Adds an attached board with the given status byte; returns its 1-based
  // number. Queues an arrival event.
  int AddBoard(uint8_t status);
  // Adds an attached device of any kind (another product id, a descriptor of
  // the test's own, ...) that otherwise behaves as a board. Queues an arrival.
  int AddDevice(uint16_t vendor_id, uint16_t product_id, std::vector<uint8_t> descriptor,
                uint8_t status, std::string name);
  int BoardCount() const;

  // Hot-plug. Unplug queues a removal and makes I/O on an open handle report
  // Disconnected; Replug attaches the board again under a new path.
  void Unplug(int board);
  void Replug(int board);
  bool IsAttached(int board) const;
  std::string PathOf(int board) const;

  // Fault injection.
  void FailNextWrites(int board, int count);  // Write returns Failed
  void FailNextReads(int board, int count);   // GetInputReport returns TimedOut
  // Every write takes this long, as a real board's USB transfer does: the
  // board takes the word at once, the call returns after `delay` (and reports
  // Disconnected when the board was unplugged meanwhile).
  void DelayWrites(int board, std::chrono::microseconds delay);
  void DenyAccess(int board, bool deny);  // Open returns AccessDenied

  // Write and GetInputReport calls with a handle that is closed or was never
  // opened: what a caller that used a dropped device would make.
  uint64_t CallsOnClosed() const;

  // What a board has received and keeps. The history keeps at most
  // kHistoryCap words per board: when it is full the older half is dropped,
  // so a long-running program does not grow without bound. TotalReceived
  // counts every accepted report. Output reports shorter than a word are
  // zero-filled, longer ones cut.
  static constexpr std::size_t kHistoryCap = 1u << 16;
  const std::vector<OutputWord>& Received(
      int board) const;  // accepted output reports, oldest first
  uint64_t TotalReceived(int board) const;
  // The last accepted output report as sent: report id byte first (at most 64 bytes kept).
  std::vector<uint8_t> LastReport(int board) const;
  void ClearReceived(int board);
  OutputWord Output(int board) const;  // last word with command 4
  uint8_t Status(int board) const;
  void SetStatus(int board, uint8_t status);  // also the model code kept in the EEPROM
  const BoardEeprom& Eeprom(int board) const;
  // The bytes of the input report (after the report id). Default: the status
  // byte alone; a non-empty override is sent instead (Data1 in the trace is its first byte).
  void SetInputReport(int board, std::vector<uint8_t> bytes);

  // Appends one line per report received or sent to `file` (flushed at once),
  // in the trace format; nullptr turns tracing off. The file stays the caller's.
  void SetTrace(std::FILE* file);
  void SetReportObserver(ReportObserver observer);

  // Backend.
  std::vector<InterfaceInfo> Enumerate(uint16_t vendor_id, uint16_t product_id) override;
  OpenResult Open(const std::string& path) override;
  IoStatus Write(DeviceId id, std::span<const uint8_t> report) override;
  bool WriteMayBlock(DeviceId id) override;  // true when the board's writes are delayed
  IoStatus GetInputReport(DeviceId id, uint8_t report_id, std::span<uint8_t> buffer, int timeout_ms,
                          std::size_t* received) override;
  void Close(DeviceId id) override;
  int HotplugFd() override;
  std::vector<HotplugEvent> DrainHotplug() override;

 private:
  struct Board;
  struct Handle;
  Board& At(int board);
  const Board& At(int board) const;
  void Queue(HotplugEvent event);
  const Handle* FindHandle(DeviceId id);  // counts a miss in calls_on_closed_
  void Accept(Board& b, std::span<const uint8_t> report, Clock::time_point now, OutputWord* word);

  // Guards everything below: writes come from the agent's I/O workers, the
  // rest from the UI thread (or a test's observer). References handed out
  // (Received, Eeprom) are for reading while no write runs.
  mutable std::mutex mu_;
  Clock::time_point origin_;
  std::vector<std::unique_ptr<Board>> boards_;
  // Boards whose writes are delayed: none, and no write may block (no lock needed).
  std::atomic<int> delayed_boards_{0};
  std::vector<Handle> handles_;
  std::vector<HotplugEvent> pending_;
  int event_fd_ = -1;
  std::FILE* trace_ = nullptr;
  std::shared_ptr<const ReportObserver> observer_;
  DeviceId next_id_ = 1;
  int next_path_ = 0;
  uint64_t calls_on_closed_ = 0;
};

// Parses a --simulate list ("0x35,0x8E", decimal or 0x-hex, each 0..255).
// Returns false with a one-line reason on bad input.
bool ParseSimulateList(const std::string& list, std::vector<uint8_t>* statuses, std::string* error);

}  // namespace pts::hid

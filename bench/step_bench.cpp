// The work of one sweep step, on simulated boards: the device word alone,
// TranslateFrequency into N boards, and a whole TmrDwell tick (box text,
// knob and digit refresh, send).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "hid/board.h"
#include "hid/simulated/simulated_backend.h"
#include "hid/varnel.h"
#include "panel/encoding.h"
#include "panel/mainform.h"
#include "panel/operator.h"

namespace {

using pts::MainForm;

class QuietOperator : public pts::Operator {
 public:
  pts::MsgAnswer MessageBox(const std::string&, pts::MsgButtons, pts::MsgIcon,
                            const std::string&) override {
    ++boxes;
    return pts::MsgAnswer::Ok;
  }
  void Beep() override { ++beeps; }
  void EndProgram(int) override {}
  int boxes = 0, beeps = 0;
};

// A loaded and activated panel on `boards` simulated PTS 500 boards.
struct Panel {
  explicit Panel(int boards) : agent(backend), form(agent, op) {
    for (int i = 0; i < boards; ++i) {
      backend.AddBoard(static_cast<uint8_t>(0x5E - 2 * i));  // units 0, 1, 2, 3
    }
    form.Form_Load();
    form.Form_Activate();
    form.ModelNum = 500;
    form.Mnum = 0x50;
    op.boxes = op.beeps = 0;  // start-up asks for the model; not part of a step
  }

  pts::hid::SimulatedBackend backend;
  pts::Varnel agent;
  QuietOperator op;
  MainForm form;
};

void BM_EncodeFrequency(benchmark::State& state) {
  double hz = 123456789.3;
  for (auto _ : state) {
    auto e = pts::EncodeFrequency(hz, int16_t{500}, int16_t{4}, int16_t{0x50}, 3);
    benchmark::DoNotOptimize(e);
    hz += 100;
    if (hz > 400e6) hz = 123456789.3;
  }
}
BENCHMARK(BM_EncodeFrequency);

void BM_TranslateFrequency(benchmark::State& state) {
  const int boards = static_cast<int>(state.range(0));
  Panel p(boards);
  const uint64_t before = p.backend.TotalReceived(1);
  p.form.Cmd1Val = pts::hid::kCmdSetOutput;
  p.form.Frequency = 123456789.3;
  for (auto _ : state) {
    p.form.TranslateFrequency();
    p.form.Frequency += 100;
    if (p.form.Frequency > 400e6) p.form.Frequency = 123456789.3;
  }
  const auto sends = static_cast<int64_t>(p.backend.TotalReceived(1) - before);
  if (sends != static_cast<int64_t>(state.iterations()) || p.op.boxes != 0 || p.op.beeps != 0) {
    state.SkipWithError("a send was refused or a board missed a word");
  }
  state.counters["boards"] = boards;
  state.SetItemsProcessed(state.iterations() * boards);  // words written
}
BENCHMARK(BM_TranslateFrequency)->Arg(1)->Arg(4);

// A repeating sweep 1000 -> 2000 Hz in 100 Hz steps; every tick sends.
void BM_DwellTick(benchmark::State& state) {
  const int boards = static_cast<int>(state.range(0));
  Panel p(boards);
  p.form.TextFreq.Text("1000");
  p.form.TextFreqStop.Text("2000");
  p.form.TextFreqStep.Text("100");
  p.form.TextSweepTime.Text("1");
  p.form.CmdStart_Click();
  const uint64_t before = p.backend.TotalReceived(1);
  for (auto _ : state) p.form.TmrDwell_Timer();
  const auto sends = static_cast<int64_t>(p.backend.TotalReceived(1) - before);
  if (!p.form.TmrDwell.Enabled() || sends != static_cast<int64_t>(state.iterations()) ||
      p.op.boxes != 0 || p.op.beeps != 0) {
    state.SkipWithError("the sweep stopped, refused a step or missed a word");
  }
  state.counters["boards"] = boards;
}
BENCHMARK(BM_DwellTick)->Arg(1)->Arg(4);

}  // namespace

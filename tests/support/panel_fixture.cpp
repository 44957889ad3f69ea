#include "support/panel_fixture.h"

namespace pts::testing {

PanelFixture::PanelFixture(std::vector<uint8_t> statuses, PanelStart start,
                           std::vector<MsgAnswer> answers)
    : agent(backend), form(agent, op, kPanelProgramDir) {
  for (uint8_t s : statuses) backend.AddBoard(s);
  op.answers.assign(answers.begin(), answers.end());
  StartUp(start);
}

bool PanelFixture::StartUp(PanelStart stage) {
  bool ran = false;
  if (stage_ == PanelStart::Constructed && stage != PanelStart::Constructed) {
    loaded = form.Form_Load();
    stage_ = PanelStart::Loaded;
    ran = true;
  }
  if (stage_ == PanelStart::Loaded && stage == PanelStart::Activated && loaded) {
    form.Form_Activate();
    activated = true;
    stage_ = PanelStart::Activated;
    ran = true;
  }
  if (ran) {
    startup_boxes.insert(startup_boxes.end(), op.boxes.begin(), op.boxes.end());
    startup_beeps += op.beeps;
    op.Clear();
  }
  return loaded;
}

void PanelFixture::Type(const std::string& text) {
  std::string box = form.TextFreq.Text();
  for (char c : text) {
    int16_t key = static_cast<unsigned char>(c);
    form.TextFreq_KeyPress(key);
    if (key == 0) continue;
    if (key == 8) {
      if (box.empty()) continue;
      box.pop_back();
    } else {
      box.push_back(static_cast<char>(key));
    }
    form.TextFreq.Text(box);
    box = form.TextFreq.Text();  // the change handling may have cut it
  }
}

void PanelFixture::Enter(const std::string& text) {
  form.TextFreq_GotFocus();
  Type(text);
}

void PanelFixture::TurnKnob(int i, int32_t value) {
  form.Knob1(i).Value(value);
  form.Knob1_Change(static_cast<int16_t>(i));
}

void PanelFixture::Hotplug() {
  agent.ProcessHotplug();
}

std::vector<int32_t> PanelFixture::Knobs() {
  std::vector<int32_t> v;
  for (int i = 0; i < 10; ++i) v.push_back(form.Knob1(i).Value());
  return v;
}

std::vector<std::string> PanelFixture::Digits() {
  std::vector<std::string> v;
  for (int i = 0; i < 10; ++i) v.push_back(form.D(i).Caption());
  return v;
}

}  // namespace pts::testing

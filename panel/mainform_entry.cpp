#include "panel/mainform.h"

namespace pts {

void MainForm::TextFreq_Change() {}
void MainForm::TextFreq_GotFocus() {}
void MainForm::TextFreq_KeyPress(int16_t&) {}
void MainForm::TextFreqStop_KeyPress(int16_t&) {}
void MainForm::Knob1_Change(int16_t) {}
void MainForm::Display3200() {}
void MainForm::DisplayNormal() {}

int16_t MainForm::LimitTextInput(int16_t KeyAscii) {
  return KeyAscii;
}

}  // namespace pts

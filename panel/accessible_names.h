// What each control is called for screen readers: its accessible name and
// description. The window and the web page both take them from here, so a
// person who knows one knows the other.
#pragma once

#include <string>

#include "panel/controls.h"

namespace pts {

class MainForm;

// The name a reader says: a box by the caption under it ("Start Frequency
// (Hz)"), a knob by its digit ("Frequency digit 3 knob"), a light by what it
// shows and whether it is lit ("Send light, lit"), a button or label by its
// caption. Empty for frames.
std::string AccessibleName(const MainForm& form, const Control& control);
// What the control is for ("Send the frequency", "10 kHz" for a digit knob).
std::string AccessibleDescription(const MainForm& form, const Control& control);

// The description of the control named `name` alone, without the panel's
// state (the lights' names start with it); empty when it has none.
std::string DescriptionOfName(const std::string& name);
// The weight of digit `index` (0..9) for the model: "100 MHz", "0.1 Hz".
std::string DigitWeightText(const MainForm& form, int index);
// A caption as shown: blanks at either end and mnemonic marks removed ("&&"
// leaves one "&").
std::string ShownCaption(const std::string& caption);

}  // namespace pts

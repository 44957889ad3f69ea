#include "panel/mainform.h"

namespace pts {

void MainForm::TranslateFrequency() {}

}  // namespace pts

#include "remote/web/page_state.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "panel/accessible_names.h"
#include "panel/models.h"
#include "panel/sweep_progress.h"

namespace pts::remote {

namespace {

// As the window paints them; where text is typed is white.
std::string Css(Color c) {
  Rgb rgb{};
  if (!FixedRgb(c, &rgb)) return c == kWindowBackground ? "#ffffff" : "";
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", unsigned(rgb.r), unsigned(rgb.g),
                unsigned(rgb.b));
  return buf;
}

const char* Bool(bool b) {
  return b ? "true" : "false";
}

std::string ControlPart(const MainForm& form, const Control& c) {
  std::string kind, extra;
  if (auto* box = dynamic_cast<const TextBox*>(&c)) {
    kind = "text";
    extra = ",\"t\":" + JsonString(box->Text()) + ",\"bg\":" + JsonString(Css(box->BackColor())) +
            ",\"max\":" + std::to_string(box->MaxLength());
  } else if (auto* knob = dynamic_cast<const Knob*>(&c)) {
    kind = "knob";
    extra = ",\"val\":" + std::to_string(knob->Value()) +
            ",\"min\":" + std::to_string(knob->Min()) + ",\"max\":" + std::to_string(knob->Max());
  } else if (auto* shape = dynamic_cast<const Shape*>(&c)) {
    kind = shape->ShapeKind() == Shape::Kind::Circle ? "circle" : "rect";
    extra = std::string(",\"lit\":") + Bool(shape->Filled()) +
            ",\"fill\":" + JsonString(Css(shape->FillColor()));
  } else if (auto* option = dynamic_cast<const OptionButton*>(&c)) {
    kind = "option";
    extra = ",\"c\":" + JsonString(option->Caption()) + ",\"s\":" + Bool(option->Value());
  } else if (auto* button = dynamic_cast<const Button*>(&c)) {
    kind = "button";
    extra = ",\"c\":" + JsonString(button->Caption());
  } else if (auto* label = dynamic_cast<const Label*>(&c)) {
    kind = "label";
    extra = ",\"c\":" + JsonString(label->Caption());
  } else {
    return {};
  }
  return "{\"k\":\"" + kind + "\",\"n\":" + JsonString(AccessibleName(form, c)) +
         ",\"d\":" + JsonString(AccessibleDescription(form, c)) + ",\"e\":" + Bool(c.Enabled()) +
         ",\"v\":" + Bool(c.Visible()) + ",\"x\":" + std::to_string(c.Left()) +
         ",\"y\":" + std::to_string(c.Top()) + ",\"w\":" + std::to_string(c.Width()) +
         ",\"h\":" + std::to_string(c.Height()) + extra + "}";
}

std::string EndsAt(double ms_left) {
  const std::time_t now = std::time(nullptr);
  const std::time_t end = now + static_cast<std::time_t>(ms_left / 1000);
  std::tm n{}, e{};
  localtime_r(&now, &n);
  localtime_r(&end, &e);
  char buf[64];
  const bool today = n.tm_year == e.tm_year && n.tm_yday == e.tm_yday;
  std::strftime(buf, sizeof buf, today ? "%H:%M:%S" : "%a %d %b %H:%M", &e);
  return buf;
}

}  // namespace

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char ch : s) {
    switch (ch) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (ch < 0x20 || ch == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(ch));
          out += buf;
        } else {
          out += static_cast<char>(ch);
        }
    }
  }
  return out + "\"";
}

std::string PageState::ProgressPart() {
  const SweepProgress p = SweepProgressOf(form_);
  counting_ = p.running;
  if (!p.running) {
    step_ = steps_ = -1;
    return "{\"on\":false}";
  }
  const auto now = std::chrono::steady_clock::now();
  if (p.step != step_ || p.steps != steps_) since_ = now;
  step_ = p.step;
  steps_ = p.steps;
  const double elapsed = std::chrono::duration<double, std::milli>(now - since_).count();
  const double left = std::max(0.0, p.ms_left - elapsed);
  std::string line = StepText(p) + ", " + DurationText(left) + " left";
  line += p.single ? ", ends at " + EndsAt(left) : " in this pass";
  return "{\"on\":true,\"step\":" + std::to_string(p.step) +
         ",\"steps\":" + std::to_string(p.steps) + ",\"line\":" + JsonString(line) + "}";
}

std::vector<std::pair<std::string, std::string>> PageState::Collect() {
  std::vector<std::pair<std::string, std::string>> parts;
  for (Control* c : form_.AllControls()) {
    if (dynamic_cast<MenuItem*>(c) || dynamic_cast<Timer*>(c)) continue;
    std::string part = ControlPart(form_, *c);
    if (!part.empty()) parts.emplace_back(c->Name(), std::move(part));
  }
  std::string models = "[";
  for (MenuItem* item : form_.ModelItems()) {
    const ModelRow* row = ModelRowOfItem(item->Name());
    if (!row) continue;
    const std::string caption = item->Caption().empty() ? row->caption : item->Caption();
    if (models.size() > 1) models += ',';
    models += "{\"c\":" + JsonString(ShownCaption(caption)) +
              ",\"m\":" + JsonString(ModelScpiName(row->model_num, "")) +
              ",\"on\":" + Bool(item->Checked()) + ",\"e\":" + Bool(item->Enabled()) + "}";
  }
  parts.emplace_back("#models", models + "]");
  parts.emplace_back("#progress", ProgressPart());
  const std::string model = ModelDisplayName(form_.ModelNum, "none");
  parts.emplace_back("#identity", "{\"model\":" + JsonString(model) +
                                      ",\"boards\":" + std::to_string(form_.Devices.size()) + "}");
  return parts;
}

std::string PageState::Frame(
    bool full, const std::vector<const std::pair<const std::string, std::string>*>& parts) const {
  std::string out = std::string("{\"t\":\"state\",\"full\":") + Bool(full) + ",\"parts\":{";
  bool first = true;
  for (const auto* p : parts) {
    if (!first) out += ',';
    first = false;
    out += JsonString(p->first) + ":" + p->second;
  }
  return out + "}}";
}

std::string PageState::Changes() {
  std::vector<const std::pair<const std::string, std::string>*> changed;
  for (auto& [key, value] : Collect()) {
    auto [it, added] = parts_.try_emplace(key, value);
    if (!added) {
      if (it->second == value) continue;
      it->second = std::move(value);
    }
    changed.push_back(&*it);
  }
  if (changed.empty()) return {};
  return Frame(false, changed);
}

std::string PageState::Full() const {
  std::vector<const std::pair<const std::string, std::string>*> all;
  for (const auto& p : parts_) all.push_back(&p);
  return Frame(true, all);
}

}  // namespace pts::remote

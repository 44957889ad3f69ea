// The model menu and the Info box.
#include "panel/models.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "panel/mainform.h"
#include "pts_version.h"
#include "support/panel_fixture.h"

namespace pts::testing {
namespace {

struct Models : ::testing::Test {
  PanelFixture p{{}, PanelStart::Constructed};
  MainForm& f = p.form;

  void ExpectOnlyChecked(const MenuItem* item) {
    for (MenuItem* m : f.ModelItems()) EXPECT_EQ(m->Checked(), m == item) << m->Name();
  }
};

struct ModelClick {
  const char* item;
  void (MainForm::*click)();
  const char* label;
  int16_t model_num;
};

class ChoosingAModel : public Models, public ::testing::WithParamInterface<ModelClick> {};

TEST_P(ChoosingAModel, SetsLabelNumberCheckAndLayout) {
  const ModelClick& row = GetParam();
  f.mnuOther_Click();  // some other model first
  f.Mnum = 0x70;
  // std::invoke: GCC 12 with -fsanitize=undefined miscompiles (member_ref.*pmf)().
  std::invoke(row.click, f);
  EXPECT_EQ(f.Label5.Caption(), row.label);
  EXPECT_EQ(f.ModelNum, row.model_num);
  EXPECT_EQ(f.Mnum, 0x70);  // only the save command sets it
  MenuItem* own = nullptr;
  for (MenuItem* m : f.ModelItems()) {
    if (m->Name() == row.item) own = m;
  }
  ASSERT_NE(own, nullptr);
  ExpectOnlyChecked(own);
  const bool wide = row.model_num == 3200;
  EXPECT_EQ(f.Label9.Visible(), !wide);
  EXPECT_EQ(f.Knob1(3).Left(), wide ? 3120 : 3360);
  EXPECT_EQ(f.Shape2(2).Width(), wide ? 2295 : 3015);
  // The same choice again changes nothing.
  std::invoke(row.click, f);
  ExpectOnlyChecked(own);
  EXPECT_EQ(f.Label5.Caption(), row.label);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ChoosingAModel,
    ::testing::Values(ModelClick{"mnuPTS10", &MainForm::mnuPTS10_Click, "PTS  10", 10},
                      ModelClick{"MNUpts160", &MainForm::MNUpts160_Click, "PTS 160", 160},
                      ModelClick{"mnuPTs200", &MainForm::mnuPTs200_Click, "PTS 200", 200},
                      ModelClick{"mnuPTS310", &MainForm::mnuPTS310_Click, "PTS 310", 310},
                      ModelClick{"mnuPTS500", &MainForm::mnuPTS500_Click, "PTS 500", 500},
                      ModelClick{"mnuPTS620", &MainForm::mnuPTS620_Click, "PTS 620", 620},
                      ModelClick{"mnuOther", &MainForm::mnuOther_Click, "PTS 1000", 1000},
                      ModelClick{"mnuPTS3200", &MainForm::mnuPTS3200_Click, "PTS 3200", 3200}),
    [](const auto& info) { return std::string(info.param.item); });

// The menu and the remote reach the handlers through this list, in table order.
TEST_F(Models, ChoicesPairEachRowWithItsItemAndHandler) {
  const auto choices = f.ModelChoices();
  for (size_t i = 0; i < kModels.size(); ++i) {
    EXPECT_EQ(choices[i].item->Name(), kModels[i].item);
    EXPECT_EQ(choices[i].item->Caption(), kModels[i].caption);
    std::invoke(choices[i].click, f);
    EXPECT_EQ(f.ModelNum, kModels[i].model_num);
    ExpectOnlyChecked(choices[i].item);
  }
}

TEST_F(Models, Pts3200ThenPts10) {
  f.mnuPTS3200_Click();
  EXPECT_EQ(f.Label5.Caption(), "PTS 3200");
  ExpectOnlyChecked(&f.mnuPTS3200);
  EXPECT_FALSE(f.Label9.Visible());
  EXPECT_EQ(f.D(3).Left(), 3240);
  EXPECT_EQ(f.D(6).Left(), 5640);
  f.mnuPTS10_Click();
  EXPECT_EQ(f.Label5.Caption(), "PTS  10");
  ExpectOnlyChecked(&f.mnuPTS10);
  EXPECT_TRUE(f.Label9.Visible());
  EXPECT_EQ(f.D(3).Left(), 3480);
  EXPECT_EQ(f.D(6).Left(), 5880);
}

TEST_F(Models, UnCheckModelNumClearsEveryItem) {
  for (MenuItem* m : f.ModelItems()) m->Checked(true);
  f.UnCheckModelNum();
  ExpectOnlyChecked(nullptr);
}

TEST_F(Models, ChoosingSendsNothingAndKeepsTheEntry) {
  PanelFixture q({0x35}, PanelStart::Loaded);
  q.Enter("123456789.3");
  q.form.mnuPTS3200_Click();
  EXPECT_EQ(q.form.TextFreq.Text(), "123456789.3");
  EXPECT_EQ(q.form.Frequency, 123456789.3);
  EXPECT_EQ(q.Knobs(), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 3}));
  EXPECT_TRUE(q.backend.Received(1).empty());
  EXPECT_TRUE(q.op.boxes.empty());
}

TEST_F(Models, InfoBox) {
  f.mnuInfo_Click();
  ASSERT_EQ(p.op.boxes.size(), 1u);
  const ShownBox& box = p.op.boxes[0];
  EXPECT_EQ(box.buttons, MsgButtons::Ok);
  EXPECT_EQ(box.icon, MsgIcon::Information);
  EXPECT_FALSE(box.title.empty());  // a title of its own, not the program's
  // Three lines, each break a line feed followed by a carriage return.
  const auto first = box.text.find("\n\r");
  ASSERT_NE(first, std::string::npos);
  const auto second = box.text.find("\n\r", first + 2);
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(box.text.find_first_of("\r\n", second + 2), std::string::npos);
  EXPECT_EQ(box.text.find("\r\n"), std::string::npos);
  // The build's version and date, and where this program's documentation is.
  EXPECT_EQ(box.text.substr(first + 2, second - first - 2),
            "Version " PTS_VERSION ", " PTS_RELEASE_DATE);
  EXPECT_EQ(box.text.substr(second + 2), "Documentation: man pts-panel");
}

}  // namespace
}  // namespace pts::testing

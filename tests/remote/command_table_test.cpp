// The command table without sockets: each row runs one message on a fresh
// panel and checks the answers and the errors it queued. No remote command
// may show the person at the panel a box.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "remote/instrument.h"
#include "remote_rig.h"

namespace pts::remote {
namespace {

using pts::testing::RemoteRig;

const std::string kPts500Limit = "Frequency >= 500 MHz is NOT Supported on PTS 500";

struct Row {
  const char* name;
  std::string message;
  std::string answer;
  std::vector<std::string> errors;
  std::vector<uint8_t> boards = {0x5E, 0x5C};  // PTS 500 stored, units 0 and 2
  std::function<void(hid::SimulatedBackend&)> fault = nullptr;
};

class CommandTable : public ::testing::TestWithParam<Row> {};

TEST_P(CommandTable, AnswersAndErrors) {
  const Row& row = GetParam();
  RemoteRig rig(row.boards);
  if (row.fault) row.fault(rig.backend);
  Session client;
  EXPECT_EQ(rig.RunMessage(row.message, client), row.answer);
  EXPECT_EQ(RemoteRig::Errors(client), row.errors);
  EXPECT_TRUE(rig.person.boxes.empty()) << rig.person.boxes.front().text;
}

std::string E(int code, const std::string& detail = {}) {
  return std::to_string(code) + ",\"" + CodeText(code) + (detail.empty() ? "" : ";" + detail) +
         "\"";
}

const char* kMissing =
    "Stop Frequency, Frequency Step, and Sweep Time must be entered before sweep can be started";
const char* kDwell =
    "Dwell time at each frequency < 1ms.  Please increase sweep time of frequency step.";
const char* kNothingSaved =
    "No interface board accepted the command: nothing was saved to interface EEPROM";
const std::string kSweep = "FREQ:STAR 1000;STOP 2000;:SWE:STEP 100;TIME 1;";
const std::string kList = "LIST:FREQ 1000,2000;DWEL 0.1;:FREQ:MODE LIST;";
// A list of n frequencies, 1 kHz apart.
std::string Many(int n) {
  std::string list;
  for (int i = 1; i <= n; ++i) list += (i > 1 ? "," : "") + std::to_string(i) + " KHZ";
  return list;
}

// The answer to LIST:FREQ? for Many(n).
std::string Thousands(int n) {
  std::string list;
  for (int i = 1; i <= n; ++i) list += (i > 1 ? "," : "") + std::to_string(i * 1000);
  return list;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CommandTable,
    ::testing::Values(
        Row{"Idn", "*IDN?;*TST?;*OPC?;*WAI", "pts-panel,PTS500,2,9.9.9;0;1\n", {}},
        // One response message per program message: the answers joined by ';'
        // (an empty list's too), a query that failed adding nothing.
        Row{"JoinedAnswers",
            "FREQ:STAR 5 MHZ;STOP 6 MHZ;:SWE:STEP 1 MHZ;:FREQ:STAR?;STOP?;:SWE:STEP?;:FREQ? 5;"
            ":LIST:FREQ?;DWEL?;:SYST:ERR?;:FREQ:MODE?",
            "5000000;6000000;1000000;;;-104,\"Data type error\";SWE\n",
            {}},
        Row{"IdnNoModel", "*IDN?;:SYST:MOD?", "pts-panel,PTS,1,9.9.9;NONE\n", {}, {0xFE}},
        Row{"FrequencyOnTenthsOfHertz",
            "FREQ 12.34567 KHZ;FREQ?;:SOUR:FREQ:CW 1e2;:FREQ?",
            "12345.7;100\n",
            {}},
        Row{"FrequencyWholeHertzOn3200", "SYST:MOD PTS3200;:FREQ 1234.5;FREQ?", "1235\n", {}},
        Row{"FrequencyMinMax",
            "FREQ MAX;FREQ?;FREQ? MAX;FREQ? MIN;:FREQ MIN;FREQ?",
            "499999999.9;499999999.9;0;0\n",
            {}},
        Row{"FrequencyAtLimit", "FREQ 500 MHZ;FREQ?", "0\n", {E(-222, kPts500Limit)}},
        // FREQ? is the boards' output: not the box, not a refused or stored value.
        Row{"FrequencyQueryIsTheOutput",
            "FREQ 1MHZ;:FREQ:STAR 2MHZ;:FREQ?;FREQ:STAR?;:MEM:STOR:FREQ;:FREQ?;:FREQ 600MHZ;:FREQ?",
            "1000000;2000000;1000000;1000000\n",
            {E(-222, kPts500Limit)}},
        Row{"FrequencyNoBoardTookIt",
            "FREQ 1MHZ;FREQ?",
            "0\n",
            {E(-240, "unit 1 did not accept the report")},
            {0x5E},
            [](hid::SimulatedBackend& b) { b.FailNextWrites(1, 1); }},
        Row{"FrequencyRoundsToLimit", "FREQ 499999999.96", "", {E(-222, kPts500Limit)}},
        Row{"FrequencyNegative", "FREQ -1", "", {E(-222)}},
        Row{"FrequencyOverflow", "FREQ 1e400", "", {E(-222)}},
        Row{"FrequencyNoModel",
            "FREQ 1;:MEM:STOR:FREQ;:INIT",
            "",
            {E(-221, "no PTS model selected"), E(-221, "no PTS model selected"),
             E(-221, "no PTS model selected")},
            {0xFE}},
        Row{"ParameterErrors",
            "FREQ 1 MS;FREQ;FREQ 1,2;FREQ ON;FREQ 'x';*RST 1;:INIT 1;:LEV 1 HZ",
            "",
            {E(-131), E(-109), E(-108), E(-104), E(-104), E(-108), E(-108), E(-131)}},
        Row{"HeaderErrors",
            "BOGUS;:SOUR2:FREQ 1;:UNIT0:DATA?;:UNIT9:DATA?;:UNIT3:DATA?;:ABOR?",
            "",
            {E(-113), E(-114), E(-114), E(-114), E(-241), E(-113)}},
        Row{"SyntaxErrorDropsTheRest",
            "*IDN?;FREQ 1 @;*IDN?",
            "pts-panel,PTS500,2,9.9.9\n",
            {E(-102)}},
        Row{"Boxes",
            "FREQ:STAR 1 MHZ;STOP 2MHZ;:SWE:STEP 100 KHZ;TIME 100 MS;:FREQ:STAR?;STOP?;"
            ":SWE:STEP?;TIME?",
            "1000000;2000000;100000;0.1\n",
            {}},
        Row{"BoxLimits",
            "FREQ:STOP 500MHZ;:SWE:TIME 0.0000001;TIME -1;STEP -1",
            "",
            {E(-222, kPts500Limit), E(-222), E(-222), E(-222)}},
        Row{"SweepMissingInput", "SWE:TIME 1;:INIT", "", {E(-221, kMissing)}},
        Row{"SweepDwellTooShort",
            "FREQ:STAR 0;STOP 10000;:SWE:STEP 1;TIME 1;:INIT;:SWE:STAT?",
            "IDLE\n",
            {E(-221, kDwell)}},
        Row{"SweepOverLimit",
            "FREQ:STAR 1000;STOP 20MHZ;:SWE:STEP 1MHZ;TIME 1;:SYST:MOD PTS10;:INIT;:INIT:CONT ON",
            "",
            {E(-222, "Frequency >= 10 MHz is NOT Supported on PTS 10"),
             E(-222, "Frequency >= 10 MHz is NOT Supported on PTS 10")}},
        Row{"Single",
            kSweep + ":INIT;:SWE:STAT?;POIN?;DWEL?;:INIT:CONT?;:ABOR;:SWE:STAT?",
            "SING;11;0.1;0;IDLE\n",
            {}},
        Row{"UnitAfterASpaceLeadingColonTrailingSemicolon",
            ":FREQ 1.000000e+08 Hz;:FREQ?;",
            "100000000\n",
            {}},
        Row{"CenterAndSpan",
            "FREQ:STAR 1000;STOP 2000;:FREQ:CENT?;SPAN?;CENT 5000;STAR?;STOP?;SPAN 300;STAR?;STOP?;"
            "CENT?;:FREQ:STAR 2000;STOP 1000;:FREQ:SPAN?;CENT 3000;STAR?;STOP?",
            "1500;1000;4500;5500;4850;5150;5000;-1000;3500;2500\n",
            {}},
        Row{"CenterAndSpanOnWholeHertz",
            "SYST:MOD PTS3200;:FREQ:STAR 1000;STOP 2000;:FREQ:SPAN 100.6;STAR?;STOP?",
            "1450;1551\n",
            {}},
        Row{"CenterAndSpanRefusedLeaveTheBoxes",
            "FREQ:STAR 1000;STOP 2000;:FREQ:CENT 100;CENT 499999999;SPAN 1e400;SPAN 1 "
            "MS;STAR?;STOP?",
            "1000;2000\n",
            {E(-222), E(-222, kPts500Limit), E(-222), E(-131)}},
        // Points count both ends; a fraction of a step is no point.
        Row{"PointsAndDwellWriteTheBoxes",
            kSweep +
                "POIN?;DWEL?;POIN 5;STEP?;POIN?;DWEL 0.05;TIME?;DWEL?;STEP 300;POIN?;DWEL 10 MS;"
                "TIME?;DWEL?;POIN 7;STEP?;POIN?",
            "11;0.1;250;5;0.2;0.05;4;0.034;0.01;166.6;7\n",
            {}},
        Row{"PointsAndDwellRefused",
            kSweep +
                "POIN 1;POIN 2 HZ;DWEL 0.0001;DWEL 1e7;:FREQ:STOP 1000;:SWE:POIN 3;DWEL 1;POIN?;"
                "DWEL?;STEP?;TIME?",
            "0;0;100;1\n",
            {E(-222), E(-131), E(-222), E(-222), E(-221, "start and stop give no span"),
             E(-221, "start, stop and step give no sweep")}},
        // While the sweep runs, what it runs with; the boxes again once it stops.
        Row{"PointsWhileASweepRuns",
            kSweep + ":INIT;:SWE:STEP 250;POIN?;:ABOR;:SWE:POIN?",
            "11;5\n",
            {}},
        Row{"Mode",
            "FREQ:MODE?;MODE CW;MODE?;MODE FIX;MODE?;MODE LIST;MODE?;MODE SWEEP;MODE?;MODE 3;MODE "
            "X",
            "SWE;CW;CW;LIST;SWE\n",
            {E(-104), E(-224)}},
        Row{"CwInitiatesNothing",
            kSweep + ":FREQ:MODE CW;:INIT;:SWE:STAT?;:INIT:CONT ON;:SWE:STAT?",
            "IDLE;IDLE\n",
            {}},
        Row{"Lists",
            "LIST:FREQ 1 kHz,1234.56,1 MHZ;FREQ?;FREQ:POIN?;:LIST:DWEL 0.0015,1 "
            "MS,2;DWEL?;DWEL:POIN?",
            "1000,1234.6,1000000;3;0.002,0.001,2;3\n",
            {}},
        Row{"ListRefusedKeepsTheOldOne",
            "LIST:FREQ 1000,2000;FREQ 3000,500 MHZ;FREQ -1;FREQ 1,ON;FREQ;DWEL 0.5,0.0005;DWEL "
            "3601;"
            "DWEL 1 HZ;FREQ?;DWEL?",
            "1000,2000;\n",
            {E(-222, kPts500Limit), E(-222), E(-104), E(-109), E(-222), E(-222), E(-131)}},
        Row{"ListOfTenThousand",
            "LIST:FREQ " + Many(10000) + ";FREQ " + Many(10001) + ";FREQ:POIN?",
            "10000\n",
            {E(-223)}},
        // A response is held whole until its message ends: it is bounded.
        Row{"ResponseAbove256KiB",
            "LIST:FREQ " + Many(10000) + ";FREQ?;FREQ?;FREQ?;FREQ?;FREQ:POIN?",
            Thousands(10000) + ";" + Thousands(10000) + ";" + Thousands(10000) + "\n",
            {E(-400, "the response is above 256 KiB: the rest of its answers are dropped")}},
        Row{"ListNoModel", "LIST:FREQ 1000", "", {E(-221, "no PTS model selected")}, {0xFE}},
        Row{"ListPass",
            kList + ":INIT;:SWE:STAT?;:INIT:CONT ON;:SWE:STAT?;:INIT:CONT?;:ABOR;:SWE:STAT?",
            "SING;CONT;1;IDLE\n",
            {}},
        Row{"ListThatCannotRun",
            "FREQ:MODE LIST;:INIT;:LIST:FREQ 1000,2000,3000;DWEL 0.1,0.2;:INIT;:LIST:DWEL 0.1;"
            "FREQ 1000,20 MHZ;:SYST:MOD PTS10;:INIT:CONT ON;:SWE:STAT?",
            "IDLE\n",
            {E(-221, "the frequency list is empty"),
             E(-221, "list lengths differ: 3 frequencies, 2 dwell times"),
             E(-222, "Frequency >= 10 MHz is NOT Supported on PTS 10")}},
        Row{"TriggerSource",
            "TRIG:SOUR?;SOUR BUS;SOUR?;:TRIG:SEQ:SOUR IMMEDIATE;:TRIG:SOUR?;SOUR EXT;*TRG;:TRIG;"
            ":TRIG:IMM",
            "IMM;BUS;IMM\n",
            {E(-224, "the source is triggered by INIT or *TRG alone: IMM or BUS"), E(-211), E(-211),
             E(-211)}},
        Row{"BusTriggerStartsWhatInitArmed",
            kSweep + ":TRIG:SOUR BUS;:INIT;:SWE:STAT?;*TRG;:SWE:STAT?;*TRG;:ABOR;:INIT:CONT ON;"
                     "CONT?;:ABOR;*TRG;:INIT:CONT ON;:TRIG;:SWE:STAT?",
            "IDLE;SING;1;CONT\n",
            {E(-211), E(-211)}},
        // INIT checks what it can; the panel's own refusals come with *TRG.
        Row{"BusTriggerRefusals",
            kSweep + ":TRIG:SOUR BUS;:INIT;:FREQ:MODE LIST;*TRG;:LIST:FREQ 1000;:INIT;"
                     ":FREQ:MODE SWE;:SWE:STEP 0;:INIT;*TRG",
            "",
            {E(-211), E(-221, "list lengths differ: 1 frequency, 0 dwell times"),
             E(-221, kMissing)}},
        Row{"Continuous",
            kSweep + ":INIT:CONT ON;:SWE:STAT?;:INIT:CONT?;CONT 0;CONT?;CONT MAYBE",
            "CONT;1;0\n",
            {E(-224)}},
        // pymeasure's step sweep set-up.
        Row{"StepSweepSetUp",
            ":SOUR:FREQ:MODE SWE;:SOUR:SWE:GEN STEP;:SOUR:SWE:MODE AUTO;",
            "",
            {}},
        Row{"OneChoiceSettings",
            "SWE:DIR UP;DIR?;SPAC LIN;SPAC?;GEN STEPPED;GEN?;MODE AUTO;MODE?;:LIST:MODE AUTO;MODE?;"
            ":SWE:DIR DOWN;SPAC LOG;GEN ANAL;MODE MAN;:LIST:MODE MANUAL;:SWE:SPAC LIN,LIN;SPAC 1;"
            "SPAC EXP",
            "UP;LIN;STEP;AUTO;AUTO\n",
            {E(-224, "the sweep runs from start to stop: set a start above the stop"),
             E(-224, "the sweep's steps are linear"), E(-224, "the sweep is stepped"),
             E(-224, "the sweep steps by itself"), E(-224, "the list steps by itself"), E(-108),
             E(-104), E(-224)}},
        Row{"Output",
            "OUTP ON;OUTP?;:OUTP:STAT 1;STAT?;:OUTP OFF;OUTP 0;OUTP MAYBE;OUTP 'ON';OUTP 1 HZ",
            "1;1\n",
            {E(-221, "the board has no output switch: the output stays on"),
             E(-221, "the board has no output switch: the output stays on"), E(-224), E(-104),
             E(-131)}},
        Row{"Counts",
            "SWE:COUN?;COUN 3;COUN?;COUN INF;COUN?;COUN 2.4;COUN 9.9E37;COUN?;COUN MIN;COUN?;"
            "COUN MAX;COUN?;COUN 0;COUN 3e9;COUN ON;COUN?;:LIST:COUN?;COUN 2;COUN?;:SOUR:LIST:COUN "
            "INFINITY;COUN?;:SWE:COUN?",
            "1;3;9.9E+37;9.9E+37;1;2147483647;2147483647;1;2;9.9E+37;2147483647\n",
            {E(-222), E(-222), E(-104)}},
        Row{"ListDirection",
            "LIST:DIR?;DIR DOWN;DIR?;DIR SIDEWAYS;DIR?;DIR UP;DIR?",
            "UP;DOWN;DOWN;UP\n",
            {E(-224)}},
        Row{"CountOfInfinityIsContinuous",
            kSweep + ":SWE:COUN INF;:INIT;:SWE:STAT?;:INIT:CONT?;:ABOR;:SWE:COUN 2;:INIT;"
                     ":SWE:STAT?;:INIT:CONT?",
            "CONT;1;SING;0\n",
            {}},
        Row{"SystemPresetAsReset",
            "FREQ:STOP 5;:LEV 9;:SWE:COUN 3;:LIST:COUN INF;DIR DOWN;:TRIG:SOUR BUS;:SYST:PRES;"
            ":FREQ:STOP?;:LEV?;:SWE:COUN?;:LIST:COUN?;DIR?;:TRIG:SOUR?",
            "0;3;1;1;UP;IMM\n",
            {}},
        Row{"Level",
            "LEV 7;LEV?;LEV MIN;LEV?;LEV? MAX;LEV 14;LEV 2.4;LEV 12.6;LEV?",
            "7;3;13;13\n",
            {E(-222), E(-222)}},
        Row{"Model",
            "SYST:MOD pts160;MOD?;MOD 'PTS 620';MOD?;MOD PTS999;MOD 5",
            "PTS160;PTS620\n",
            {E(-222), E(-104)}},
        Row{"Reset",
            "FREQ:STOP 5;:LEV 9;:FREQ 1000;*RST;:FREQ:STOP?;STAR?;:LEV?;:SWE:TIME?",
            "0;0;3;0\n",
            {}},
        Row{"StatusRegister",
            "BOGUS;FREQ -1;*ESR?;*ESR?;:SYST:ERR:COUN?",
            "48;0;2\n",
            {E(-113), E(-222)}},
        Row{"Clear", "BOGUS;*CLS;:SYST:ERR:COUN?;*ESR?;:SYST:ERR?", "0;0;0,\"No error\"\n", {}},
        Row{"StatusEnables",
            "*ESE 36;*ESE?;*SRE 255;*SRE?;*ESE 3.6;*ESE?;*SRE 0;*SRE?;*OPT?;:SYST:VERS?",
            "36;191;4;0;0;1999.0\n",
            {}},
        Row{"StatusParameterErrors",
            "*ESE 256;*SRE -1;*ESE;*ESE 1,2;*SRE ON;*ESE 1 HZ;*ESE? 1;*STB? 1;*OPC 1;*CLS 1;"
            ":STAT:OPER:ENAB 1e99;PTR -1;NTR 65536;EVEN 1;:STAT:PRES?;:SYST:VERS 1",
            "",
            {E(-222), E(-222), E(-109), E(-108), E(-104), E(-131), E(-108), E(-108), E(-108),
             E(-108), E(-222), E(-222), E(-222), E(-113), E(-113), E(-113)}},
        // The error queue (bit 2) and the command error's ESR bit through *ESE (bit 5); MSS.
        Row{"StatusByte",
            "BOGUS;*ESE 32;*STB?;*SRE 4;*STB?;*SRE?;*CLS;*STB?;*ESE?",
            "36;100;4;0;32\n",
            {}},
        Row{"OperationCompleteAtOnceWhenNothingRuns", "*OPC;*ESR?;*ESR?", "1;0\n", {}},
        Row{"ErrorAll",
            "BOGUS;FREQ -1;:SYST:ERR:ALL?;ALL?;COUN?",
            "-113,\"Undefined header\",-222,\"Data out of range\";0,\"No error\";0\n",
            {}},
        Row{"ResetKeepsEnablesAndQueue",
            "*ESE 4;*SRE 16;:STAT:OPER:ENAB 8;:STAT:QUES:PTR 0;:BOGUS;*RST;*ESE?;*SRE?;"
            ":STAT:OPER:ENAB?;:STAT:QUES:PTR?;:SYST:ERR:COUN?",
            "4;16;8;0;1\n",
            {E(-113)}},
        Row{"StatusRegistersAndPreset",
            "STAT:OPER:ENAB 65535;ENAB?;PTR 12;PTR?;NTR 3.4;NTR?;:STAT:QUES:ENAB 32;ENAB?;"
            ":STAT:PRES;:STAT:OPER:ENAB?;PTR?;NTR?;:STAT:QUES:ENAB?;PTR?;NTR?;COND?;EVEN?",
            "32767;12;3;32;0;32767;0;0;32767;0;0;0\n",
            {}},
        // The rise passes no PTR bit, the fall passes NTR; the event register is read once.
        Row{"SweepingThroughTheTransitionFilters",
            kSweep + ":STAT:OPER:NTR 8;PTR 0;:INIT;:STAT:OPER:COND?;EVEN?;:ABOR;:STAT:OPER:COND?;"
                     "EVEN?;EVEN?",
            "8;0;0;8;0\n",
            {}},
        Row{"Units",
            "UNIT:COUN?;:UNIT2:MOD?;NUMB?;DATA?;:UNIT3:MOD?;:UNIT:MOD?;NUMB?",
            "3;NONE;2;252;UNKNOWN;PTS500;0\n",
            {},
            {0x5E, 0xFC, 0x9C}},
        Row{"UnitReadFails",
            "UNIT2:DATA?",
            "",
            {E(-240, "unit 2 did not answer")},
            {0x5E, 0x5C},
            [](hid::SimulatedBackend& b) { b.FailNextReads(2, 1); }},
        // The output is questionable until a word that every unit takes.
        Row{"WriteFailsOnOneUnit",
            "FREQ 1MHZ;FREQ?;:STAT:QUES:COND?;EVEN?;:FREQ 2MHZ;:STAT:QUES:COND?;EVEN?",
            "1000000;32;32;0;0\n",
            {E(-240, "unit 2 did not accept the report")},
            {0x5E, 0x5C},
            [](hid::SimulatedBackend& b) { b.FailNextWrites(2, 1); }},
        // Found gone while the word goes out: that unit alone, not the one before it.
        Row{"BoardGoneInTheMiddleOfASend",
            "FREQ 1MHZ;FREQ?;:UNIT:COUN?;:STAT:QUES:COND?;:FREQ 2MHZ;:STAT:QUES:COND?",
            "1000000;2;32;0\n",
            {E(-241, "unit 2 was removed")},
            {0x5E, 0x5C, 0x5A},
            [](hid::SimulatedBackend& b) { b.Unplug(2); }},
        Row{"SavesAccepted", "FREQ 1MHZ;:MEM:STOR:FREQ;:MEM:STOR:MOD", "", {}},
        Row{"SaveNoBoardAccepted",
            "MEM:STOR:FREQ",
            "",
            {E(-240, "unit 1 did not accept the report"), E(-241, kNothingSaved)},
            {0x5E},
            [](hid::SimulatedBackend& b) { b.FailNextWrites(1, 1); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CommandTableQueue, OverflowKeepsTheOldestAndEndsOnQueueOverflow) {
  RemoteRig rig;
  Session client;
  std::string message;
  for (int i = 0; i < 25; ++i) message += "BOGUS;";
  EXPECT_EQ(rig.RunMessage(message + ":SYST:ERR:COUN?", client), "20\n");
  const std::vector<std::string> errors = RemoteRig::Errors(client);
  EXPECT_EQ(errors.front(), E(-113));
  EXPECT_EQ(errors.back(), E(-350));
  EXPECT_EQ(errors[18], E(-113));
}

// SYSTem:ERRor? quotes an entry on one line; the page gets the text as pushed.
TEST(CommandTableQueue, EntriesForTheQueryAndForAPerson) {
  const struct {
    int code;
    const char *detail, *query, *person;
  } rows[] = {
      {-113, "", "-113,\"Undefined header\"", "Undefined header"},
      {-222, "say \"no\"", "-222,\"Data out of range;say \"\"no\"\"\"", "say \"no\""},
      {-221, "two\nlines", "-221,\"Settings conflict;two lines\"", "two\nlines"},
  };
  for (const auto& r : rows) {
    Session s;
    s.Push(r.code, r.detail);
    s.Push(r.code, r.detail);
    EXPECT_EQ(s.Pop(), r.query);
    EXPECT_EQ(s.PopText(), r.person);
  }
}

TEST(CommandTableOutput, SweepStepsSetTheFrequencyAndTheBoxDoesNot) {
  RemoteRig rig;
  Session client;
  EXPECT_EQ(rig.RunMessage(kSweep + ":INIT;:FREQ?", client), "0\n");
  rig.form.TmrDwell_Timer();
  rig.form.TextFreq.Text("10012345600");  // the operator types without sending
  EXPECT_EQ(rig.RunMessage("FREQ?;FREQ:STAR?", client), "1100;10012345600\n");
  EXPECT_EQ(client.Count(), 0);
}

TEST(CommandTableWait, OpcWaitsForASingleSweepOnly) {
  RemoteRig rig;
  Session client;
  rig.RunMessage(kSweep + ":INIT", client);
  Response out;
  const auto opc = ParseMessage("*OPC?");
  EXPECT_FALSE(rig.instrument.Execute(opc[0], client, &out));
  EXPECT_TRUE(out.Empty());
  rig.form.CmdStop_Click();  // the operator stops it
  EXPECT_TRUE(rig.instrument.Execute(opc[0], client, &out));
  rig.RunMessage(":INIT:CONT ON", client);
  EXPECT_TRUE(rig.instrument.Execute(opc[0], client, &out));
  std::string text;
  out.EndInto(&text);
  EXPECT_EQ(text, "1;1\n");

  // A single list: until its last point has gone out.
  rig.RunMessage(":ABOR;" + kList + ":INIT", client);
  rig.form.TmrDwell_Timer();
  EXPECT_FALSE(rig.instrument.Execute(opc[0], client, &out));
  rig.form.TmrDwell_Timer();
  EXPECT_TRUE(rig.instrument.Execute(opc[0], client, &out));
  EXPECT_EQ(RemoteRig::Errors(client), std::vector<std::string>{});
}

// Counted passes join up, a list runs in its direction with each point's own
// dwell, and *OPC? waits for the last pass.
TEST(CommandTablePasses, RunAsCountedAndOpcWaitsForTheLast) {
  struct PassRow {
    const char* name;
    std::string message;
    std::vector<std::string> boxes;  // FREQ:STAR? after each tick
    std::vector<int32_t> dwell_ms;
  };
  const std::vector<PassRow> rows = {
      {"Sweep",
       "FREQ:STAR 1000;STOP 1300;:SWE:STEP 100;DWEL 0.1;COUN 2;",
       {"1100", "1200", "1000", "1100", "1200", "1000"},
       {100, 100, 100, 100, 100, 100}},
      {"ListDown",
       "LIST:FREQ 1000,2000,3000;DWEL 0.1,0.2,0.3;DIR DOWN;COUN 2;:FREQ:MODE LIST;",
       {"3000", "2000", "1000", "3000", "2000", "1000"},
       {300, 200, 100, 300, 200, 100}},
  };
  const auto opc = ParseMessage("*OPC?");
  for (const PassRow& row : rows) {
    SCOPED_TRACE(row.name);
    RemoteRig rig;
    Session client;
    EXPECT_EQ(rig.RunMessage(row.message + ":INIT", client), "");
    Response out;
    std::vector<std::string> boxes;
    std::vector<int32_t> dwell_ms;
    for (size_t i = 0; i < row.boxes.size(); ++i) {
      EXPECT_FALSE(rig.instrument.Execute(opc[0], client, &out)) << "before tick " << i + 1;
      rig.form.TmrDwell_Timer();
      rig.instrument.Update();
      boxes.push_back(rig.RunMessage("FREQ:STAR?", client));
      boxes.back().pop_back();  // LF
      dwell_ms.push_back(rig.form.TmrDwell.Interval());
    }
    EXPECT_EQ(boxes, row.boxes);
    EXPECT_EQ(dwell_ms, row.dwell_ms);
    EXPECT_TRUE(rig.instrument.Execute(opc[0], client, &out));
    std::string text;
    out.EndInto(&text);
    EXPECT_EQ(text, "1\n");
    EXPECT_EQ(RemoteRig::Errors(client), std::vector<std::string>{});
  }
}

// A single sweep ticked to its end as the program does, updating the status
// after every tick: OPERation bit 3 rises and falls, its summary and MSS in
// the status byte, *OPC's bit once the sweep is over. A second client with
// its own filters latches nothing; a board unplugged later makes the output
// questionable until the next send.
TEST(CommandTableStatus, ASingleSweepThroughTheRegisters) {
  RemoteRig rig;
  Session client, other;
  rig.instrument.Attach(client);
  rig.instrument.Attach(other);
  auto run = [&](Session& s, const std::string& m) { return rig.RunMessage(m, s); };
  EXPECT_EQ(run(other, "STAT:OPER:PTR 0;ENAB 8"), "");
  EXPECT_EQ(run(client, kSweep + ":STAT:OPER:ENAB 8;NTR 8;*SRE 128;*ESE 1;:INIT;*OPC;*STB?;"
                                 ":STAT:OPER:COND?;EVEN?;*STB?;*ESR?"),
            "192;8;8;0;0\n");
  for (int i = 0; i < 100 && rig.form.TmrDwell.Enabled(); ++i) {
    rig.form.TmrDwell_Timer();
    rig.instrument.Update();
  }
  ASSERT_FALSE(rig.form.TmrDwell.Enabled());
  EXPECT_EQ(run(client, "*STB?;*ESR?;:STAT:OPER:COND?;EVEN?;*STB?"), "224;1;0;8;0\n");
  EXPECT_EQ(run(other, "STAT:OPER?;*ESR?"), "0;0\n");

  rig.backend.Unplug(2);
  rig.agent.ProcessHotplug();
  rig.instrument.Update();
  EXPECT_EQ(run(client, "STAT:QUES:COND?;EVEN?;:FREQ 1000;:STAT:QUES:COND?"), "32;32;0\n");
  rig.instrument.Detach(client);
  rig.instrument.Detach(other);
}

}  // namespace
}  // namespace pts::remote

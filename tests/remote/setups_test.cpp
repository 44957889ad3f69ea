// Saved set-ups: kept over a restart, replaced only whole, and refused with
// the slot named when empty or damaged. Each test has a directory of its own.
#include "remote/setups.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "remote_rig.h"

namespace pts::remote {
namespace {

namespace fs = std::filesystem;
using pts::testing::RemoteRig;
using Strings = std::vector<std::string>;

struct TempDir {
  TempDir() {
    std::string t = (fs::temp_directory_path() / "pts-setups-XXXXXX").string();
    path = mkdtemp(t.data());
  }
  ~TempDir() { fs::remove_all(path); }
  std::string path;
};

// A panel whose instrument keeps its set-ups in `dir`.
struct Rig : RemoteRig {
  explicit Rig(const std::string& dir) : inst(form, op, "9.9.9", dir) {}
  std::string Run(std::string_view message) { return RemoteRig::RunMessage(inst, message, client); }
  Strings Errors() { return RemoteRig::Errors(client); }
  Instrument inst;
  Session client;
};

std::string E(int code, const std::string& detail = {}) {
  return std::to_string(code) + ",\"" + CodeText(code) + (detail.empty() ? "" : ";" + detail) +
         "\"";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

const std::string kSweep = "FREQ:STAR 1 MHZ;STOP 2 MHZ;:SWE:STEP 1 KHZ;TIME 1.5;";
const std::string kSaved =
    "pts-panel setup 1\n"
    "freq=1000000\n"
    "stop=2000000\n"
    "step=1000\n"
    "time=1.5\n"
    "level=7\n"
    "mode=LIST\n"
    "list_freq=1000000,2500000,0.1\n"
    "list_dwell=0.001\n"
    "sweep_count=3\n"
    "list_count=INF\n"
    "list_dir=DOWN\n";

TEST(Setups, KeptOverARestart) {
  TempDir tmp;
  const std::string dir = tmp.path + "/state/pts-panel";  // made on the first save
  {
    Rig a(dir);
    // A save during a sweep keeps the sweep's start, not the step it is at.
    a.Run(kSweep + ":LEV 7;:INIT:CONT ON");
    a.form.TmrDwell_Timer();
    a.Run("*SAV 2;:ABOR;:FREQ:STAR 1 MHZ");
    a.inst.Source().mode = SourceState::Mode::kList;
    a.inst.Source().list_freq = {1e6, 2.5e6, 0.1};
    a.inst.Source().list_dwell = {0.001};
    a.Run("SWE:COUN 3;:LIST:COUN INF;DIR DOWN;*SAV 3");
    EXPECT_EQ(a.Errors(), Strings{});
  }
  EXPECT_EQ(ReadFile(dir + "/setup-3.txt"), kSaved);
  EXPECT_NE(ReadFile(dir + "/setup-2.txt").find("\nfreq=1000000\n"), std::string::npos);
  struct stat st {};
  ASSERT_EQ(stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(stat((dir + "/setup-3.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  Rig b(dir);
  b.Run("FREQ:STAR 5;STOP 10;:SWE:STEP 1;TIME 1;:INIT:CONT ON");
  const uint64_t sent = b.backend.TotalReceived(1);
  // The recall stops the sweep, sends nothing (the output is still the
  // sweep's, none yet), and the window shows the set-up.
  EXPECT_EQ(b.Run("*RCL 3;:SWE:STAT?;:FREQ:STAR?;STOP?;:SWE:STEP?;TIME?;:LEV?;:FREQ?"),
            "IDLE;1000000;2000000;1000;1.5;7;0\n");
  EXPECT_EQ(b.Errors(), Strings{});
  EXPECT_EQ(b.backend.TotalReceived(1), sent);
  EXPECT_EQ(b.form.TextFreq.Text(), "1000000");
  EXPECT_EQ(b.form.D(10).Caption(), " 7");
  EXPECT_EQ(b.inst.Source().mode, SourceState::Mode::kList);
  EXPECT_EQ(b.inst.Source().list_freq, (std::vector<double>{1e6, 2.5e6, 0.1}));
  EXPECT_EQ(b.inst.Source().list_dwell, std::vector<double>{0.001});
  EXPECT_EQ(b.Run("SWE:COUN?;:LIST:COUN?;DIR?"), "3;9.9E+37;DOWN\n");
  EXPECT_TRUE(b.person.boxes.empty());
}

TEST(Setups, NumbersAndModesComeBackExactly) {
  for (SourceState::Mode mode :
       {SourceState::Mode::kCw, SourceState::Mode::kSweep, SourceState::Mode::kList}) {
    SavedSetup s;
    s.freq = "١٢.5";  // a box holds any text, not only numbers
    s.mode = mode;
    s.list_freq = {0.1 + 0.2, 123456789.3, 1.7976931348623157e308, 5e-324, 0};
    s.list_dwell = {1e-300};
    SavedSetup back;
    std::string why;
    ASSERT_TRUE(ParseSetup(FormatSetup(s), &back, &why)) << why;
    EXPECT_EQ(back.freq, s.freq);
    EXPECT_EQ(back.mode, mode);
    EXPECT_EQ(back.list_freq, s.list_freq);
    EXPECT_EQ(back.list_dwell, s.list_dwell);
  }
}

TEST(Setups, SlotNumbers) {
  TempDir tmp;
  Rig r(tmp.path);
  r.Run("*SAV -0.4;*SAV 9.4;*SAV 10;*SAV -0.6;*RCL 9.5;*SAV;*RCL ON;*SAV 1 HZ;*SAV 1,2;*SAV?");
  EXPECT_EQ(r.Errors(),
            (Strings{E(-222), E(-222), E(-222), E(-109), E(-104), E(-131), E(-108), E(-113)}));
  EXPECT_TRUE(fs::exists(tmp.path + "/setup-0.txt"));
  EXPECT_TRUE(fs::exists(tmp.path + "/setup-9.txt"));
  r.Run("*RCL 4");
  EXPECT_EQ(r.Errors(), Strings{E(-256, "set-up 4 is empty")});

  Rig nowhere("");
  nowhere.Run("*SAV 1;*RCL 1");
  const std::string why = ": no directory for set-ups (XDG_STATE_HOME and HOME are not set)";
  EXPECT_EQ(nowhere.Errors(), (Strings{E(-250, "cannot save set-up 1" + why),
                                       E(-250, "cannot recall set-up 1" + why)}));
}

TEST(Setups, FailedWriteKeepsTheOldFile) {
  TempDir tmp;
  Rig r(tmp.path);
  r.Run("LEV 7;*SAV 3");
  const std::string old = ReadFile(tmp.path + "/setup-3.txt");
  // The disk fills up after a few bytes of the new file.
  size_t written = 0;
  r.inst.Setups().SetWriter([&written](int fd, const void* data, size_t size) -> ssize_t {
    if (written >= 10) {
      errno = ENOSPC;
      return -1;
    }
    const size_t n = std::min<size_t>(size, 10 - written);
    written += n;
    return write(fd, data, n);
  });
  r.Run("LEV 9;*SAV 3");
  EXPECT_EQ(r.Errors(), Strings{E(-250, "cannot save set-up 3: No space left on device")});
  EXPECT_EQ(ReadFile(tmp.path + "/setup-3.txt"), old);
  Strings names;
  for (const auto& e : fs::directory_iterator(tmp.path)) names.push_back(e.path().filename());
  EXPECT_EQ(names, Strings{"setup-3.txt"});  // no temporary left behind
  EXPECT_EQ(r.Run("*RCL 3;:LEV?"), "7\n");

  // What could not be recalled is not written.
  r.form.TextFreqStop.Text("1\n2");
  r.Run("*SAV 3");
  EXPECT_EQ(r.Errors(), Strings{E(-250, "cannot save set-up 3: bad stop")});
}

TEST(Setups, LeftoversOfASaveCutShortGoAtStart) {
  TempDir tmp;
  const std::string& d = tmp.path;
  // Name, and whether it is a temporary that a save cut short left behind.
  const std::pair<std::string, bool> files[] = {
      {".setup-3.txt.Ab9xYz", true},   {".setup-0.txt.000000", true},
      {"setup-3.txt", false},          {".setup-3.txt.Ab9xY", false},
      {".setup-x.txt.Ab9xYz", false},  {".setup-3.txt.Ab9x-z", false},
      {".setup-33.txt.Ab9xYz", false}, {"notes.txt", false}};
  for (const auto& [name, stale] : files) std::ofstream(d + "/" + name) << "x";
  fs::create_directory(d + "/.setup-5.txt.QQQQQQ");
  fs::create_symlink(d + "/notes.txt", d + "/.setup-4.txt.ZZZZZZ");
  // A save of another instance is writing this one: it holds its lock.
  const std::string busy = d + "/.setup-6.txt.BUSY00";
  const int fd = open(busy.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);

  Rig r(d);
  for (const auto& [name, stale] : files) EXPECT_EQ(fs::exists(d + "/" + name), !stale) << name;
  EXPECT_TRUE(fs::is_directory(d + "/.setup-5.txt.QQQQQQ"));
  EXPECT_TRUE(fs::is_symlink(d + "/.setup-4.txt.ZZZZZZ"));
  EXPECT_TRUE(fs::exists(busy));
  close(fd);
  EXPECT_EQ(r.inst.Setups().RemoveLeftovers(), 1);  // once it is let go
}

TEST(Setups, WhereTheyLive) {
  struct Row {
    const char *state, *xdg, *home, *dir;
  };
  const Row rows[] = {
      {"/var/lib/pts-panel", "/x", "/h", "/var/lib/pts-panel"},  // a service's StateDirectory=
      {"/var/lib/a:/var/lib/b", nullptr, nullptr, "/var/lib/a"},
      {nullptr, "/x", "/h", "/x/pts-panel"},
      {"", "relative", "/h", "/h/.local/state/pts-panel"},  // relative ones are not used
      {nullptr, "", "", ""},
      {nullptr, nullptr, nullptr, ""},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(SetupDir(r.state, r.xdg, r.home), r.dir) << (r.xdg ? r.xdg : "null");
  }
}

// A file in slot 3 and the reason its recall gives; nothing of it is applied.
struct Damage {
  const char* name;
  std::optional<std::string> file;  // none: a directory stands there
  std::string why;                  // empty: recalled
};

class DamagedSetup : public ::testing::TestWithParam<Damage> {};

std::string With(std::string_view from, std::string_view to) {
  std::string s = kSaved;
  s.replace(s.find(from), from.size(), to);
  return s;
}

TEST_P(DamagedSetup, IsRefusedAndChangesNothing) {
  const Damage& d = GetParam();
  TempDir tmp;
  const std::string path = tmp.path + "/setup-3.txt";
  if (d.file) {
    std::ofstream(path, std::ios::binary) << *d.file;
  } else {
    fs::create_directory(path);
  }
  Rig r(tmp.path);
  r.Run("FREQ:STOP 5;:LEV 4;*RCL 3");
  const Strings errors = r.Errors();
  if (d.why.empty()) {
    EXPECT_EQ(errors, Strings{});
    EXPECT_EQ(r.Run("FREQ:STOP?;:LEV?"), "2000000;7\n");
    return;
  }
  EXPECT_EQ(errors, Strings{E(-250, "set-up 3 is damaged: " + d.why)});
  EXPECT_EQ(r.Run("FREQ:STOP?;:LEV?"), "5;4\n");
  EXPECT_EQ(r.inst.Source().mode, SourceState::Mode::kSweep);
}

const std::string kOverLimit = "Frequency >= 500 MHz is NOT Supported on PTS 500";

std::string ManyPoints(size_t n) {
  std::string list = "0";
  for (size_t i = 1; i < n; ++i) list += ",1";
  return With("list_freq=1000000,2500000,0.1", "list_freq=" + list);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DamagedSetup,
    ::testing::Values(
        Damage{"UnknownKeySkipped", kSaved + "trigger=BUS\n", ""},
        Damage{"SavedBeforeTheCounts", With("sweep_count=3\nlist_count=INF\nlist_dir=DOWN\n", ""),
               ""},
        Damage{"CountZero", With("sweep_count=3", "sweep_count=0"), "bad sweep_count"},
        Damage{"CountAboveItsRange", With("list_count=INF", "list_count=2147483648"),
               "bad list_count"},
        Damage{"DirectionUnknown", With("list_dir=DOWN", "list_dir=SIDEWAYS"), "bad list_dir"},
        Damage{"MostPoints", ManyPoints(kMaxListPoints), ""},
        Damage{"NotOurs", "hello\n", "not a pts-panel setup 1 file"},
        Damage{"LaterVersion", With("setup 1", "setup 2"), "not a pts-panel setup 1 file"},
        Damage{"WindowsLines", With("setup 1\n", "setup 1\r\n"), "not a pts-panel setup 1 file"},
        Damage{"CutShort", kSaved.substr(0, kSaved.size() - 3), "the last line has no end"},
        Damage{"Empty", "", "not a pts-panel setup 1 file"},
        Damage{"KeyMissing", With("mode=LIST\n", ""), "no mode"},
        Damage{"KeyTwice", kSaved + "level=5\n", "level is given twice"},
        Damage{"NotKeyValue", With("level=7\n", "level 7\n"), "line 6 is not key=value"},
        Damage{"LevelAbove", With("level=7", "level=14"), "bad level"},
        Damage{"LevelNotWhole", With("level=7", "level=7.5"), "bad level"},
        Damage{"LevelEmpty", With("level=7", "level="), "bad level"},
        Damage{"ModeUnknown", With("mode=LIST", "mode=FIX"), "bad mode"},
        Damage{"ControlInBox", With("stop=2000000", "stop=2\t0"), "bad stop"},
        Damage{"NotUtf8", With("stop=2000000", "stop=2\xff"), "bad stop"},
        // Each field as the command that sets it takes it (here on a PTS 500).
        Damage{"StopAboveTheLimit", With("stop=2000000", "stop=123456789012"),
               "bad stop: " + kOverLimit},
        Damage{"FrequencyAboveTheLimit", With("freq=1000000", "freq=500000000"),
               "bad freq: " + kOverLimit},
        Damage{"FrequencyNotANumber", With("freq=1000000", "freq=abc"), "bad freq"},
        Damage{"StepWithUnit", With("step=1000", "step=1 kHz"), "bad step"},
        Damage{"TimeLongerThanTheBox", With("time=1.5", "time=123456789"), "bad time"},
        Damage{"EmptyBox", With("freq=1000000", "freq="), ""},  // as a fresh panel's
        Damage{"PointAboveTheLimit", With("0.1\n", "500000000\n"), "bad list_freq: " + kOverLimit},
        Damage{"DwellTooLong", With("dwell=0.001", "dwell=1e12"), "bad list_dwell"},
        Damage{"DwellZero", With("dwell=0.001", "dwell=0"), "bad list_dwell"},
        Damage{"DwellBelowAMillisecond", With("dwell=0.001", "dwell=1e-9"), "bad list_dwell"},
        Damage{"DwellLongest", With("dwell=0.001", "dwell=0.002,3600"), ""},
        Damage{"PointNotANumber", With("0.1\n", "nan\n"), "bad list_freq"},
        Damage{"PointMissing", With("2500000,", ","), "bad list_freq"},
        Damage{"PointTooLarge", With("0.1\n", "1e400\n"), "bad list_freq"},
        Damage{"DwellNegative", With("dwell=0.001", "dwell=-1"), "bad list_dwell"},
        Damage{"TooManyPoints", ManyPoints(kMaxListPoints + 1), "bad list_freq"},
        Damage{"TooLarge", kSaved + "x=" + std::string(kMaxSetupFileSize, '0') + "\n",
               "larger than 1 MiB"},
        Damage{"NotAFile", std::nullopt, "not a regular file"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pts::remote

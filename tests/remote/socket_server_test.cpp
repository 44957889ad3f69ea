// The server over loopback with four simulated boards: what each command did
// is read from the boards' trace; bad clients must not disturb good ones.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <sstream>

#include "panel/encoding.h"
#include "remote/socket/tcp_server.h"
#include "remote_rig.h"

namespace pts::remote {
namespace {

using pts::testing::RemoteRig;

QCoreApplication& App() {
  static int argc = 1;
  static char name[] = "pts_remote_tests";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* app = new QCoreApplication(argc, argv);
  return *app;
}

// Runs the event loop until `done` or a generous guard against hangs runs out.
template <typename F>
bool Until(F done, int guard_ms = 10000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > guard_ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

// Trace lines for one send to every board, without the time stamp.
std::vector<std::string> Out(int cmd, double freq, int level = 3, int16_t model = 500,
                             int16_t mnum = 0x50) {
  const Encoding e = EncodeFrequency(freq, model, cmd, mnum, level);
  std::vector<std::string> lines;
  for (int board = 1; board <= 4; ++board) {
    std::string l = "board=" + std::to_string(board) + " out";
    const char* names[] = {"Cmd1", "PWMDC", "PWMF", "F1", "F2", "F3", "F4",
                           "F5",   "F6",    "F7",   "F8", "F9", "F10"};
    for (size_t i = 0; i < e.word.size(); ++i) {
      l += std::string(" ") + names[i] + "=" + std::to_string(e.word[i]);
    }
    lines.push_back(l);
  }
  return lines;
}

class Server : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    trace_ = open_memstream(&trace_buf_, &trace_len_);
    rig_.backend.SetTrace(trace_);
    server_ = std::make_unique<TcpServer>(rig_.instrument, [this] { return busy_; });
    std::string error;
    ASSERT_TRUE(server_->Listen("127.0.0.1", 0, &error)) << error;
    port_ = static_cast<uint16_t>(std::stoi(server_->Address().substr(10)));
    // The sweep's timer, as the window binds it.
    QObject::connect(&ticks_, &QTimer::timeout, [this] {
      if (rig_.form.TmrDwell.Enabled()) rig_.form.TmrDwell_Timer();
    });
    ticks_.start(1);
  }
  void TearDown() override {
    server_.reset();
    rig_.backend.SetTrace(nullptr);
    std::fclose(trace_);
    std::free(trace_buf_);
  }

  // From `from`, a loopback address standing for a host of its own.
  std::unique_ptr<QTcpSocket> Connect(const char* from = "127.0.0.1") {
    auto s = std::make_unique<QTcpSocket>();
    s->bind(QHostAddress(QString::fromLatin1(from)));
    s->connectToHost(QStringLiteral("127.0.0.1"), port_);
    EXPECT_TRUE(Until([&] { return s->state() == QAbstractSocket::ConnectedState; }));
    return s;
  }
  // Sends `message` and returns the next `n` answer lines.
  std::vector<std::string> Ask(QTcpSocket& s, const std::string& message, size_t n) {
    s.write(message.data(), qint64(message.size()));
    std::vector<std::string> lines;
    Until([&] {
      while (s.canReadLine()) lines.push_back(s.readLine().trimmed().toStdString());
      return lines.size() >= n;
    });
    return lines;
  }
  // Trace lines since the last call, without their time stamps.
  std::vector<std::string> NewTrace() {
    std::fflush(trace_);
    std::istringstream in(std::string(trace_buf_ + trace_seen_, trace_len_ - trace_seen_));
    trace_seen_ = trace_len_;
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l.substr(l.find(' ') + 1));
    return lines;
  }

  RemoteRig rig_{{0x5E, 0x5C, 0x5A, 0x58}};  // PTS 500 stored, units 0, 2, 4, 6
  std::FILE* trace_ = nullptr;
  char* trace_buf_ = nullptr;
  size_t trace_len_ = 0, trace_seen_ = 0;
  bool busy_ = false;
  QTimer ticks_;
  std::unique_ptr<TcpServer> server_;
  uint16_t port_ = 0;
};

TEST_F(Server, EachCommandsEffectInTheTrace) {
  struct Row {
    std::string message;
    std::vector<std::string> answers;
    std::vector<std::vector<std::string>> sends;
  };
  const std::string sweep = "FREQ:STAR 1000;STOP 1300;:SWE:STEP 100;TIME 0.003;";
  const Row rows[] = {
      {"FREQ 123.4 MHZ;*OPC?", {"1"}, {Out(4, 123400000)}},
      {"LEV 9;:FREQ 1 KHZ;*OPC?", {"1"}, {Out(4, 1000, 9)}},
      {sweep + "*OPC?", {"1"}, {}},
      // *OPC? answers once the single sweep has sent its steps and ended.
      {"LEV 3;:" + sweep + ":INIT;*OPC?", {"1"}, {Out(4, 1100), Out(4, 1200), Out(4, 1000)}},
      // *OPC? in the middle holds back the whole response: one line after the sweep.
      {"*IDN?;:" + sweep + ":INIT;*OPC?;:SWE:STAT?",
       {"pts-panel,PTS500,4,9.9.9;1;IDLE"},
       {Out(4, 1100), Out(4, 1200), Out(4, 1000)}},
      {"FREQ 2000;:MEM:STOR:FREQ;*OPC?", {"1"}, {Out(4, 2000), Out(5, 2000)}},
      // Each point as a sweep step: to every unit, command 4 also after the save.
      {"LIST:FREQ 1500,123.4 MHZ,2000;DWEL 0.002;:FREQ:MODE LIST;:INIT;*OPC?;:FREQ:MODE SWE",
       {"1"},
       {Out(4, 1500), Out(4, 123400000), Out(4, 2000)}},
      {"SYST:MOD PTS200;:MEM:STOR:MOD;*OPC?", {"1"}, {Out(6, 2000, 3, 200, 0x30)}},
      // The model saved above is in every board's status now: 0x5A became 0x3A.
      {"UNIT3:DATA?", {"58"}, {{"board=3 in Data1=58"}}},
      {"*RST;*OPC?", {"1"}, {}},
      {"FREQ 600 MHZ;:SYST:ERR?",
       {"-222,\"Data out of range;Frequency >= 200 MHz is NOT "
        "Supported on PTS 200\""},
       {}},
  };
  auto client = Connect();
  for (const Row& row : rows) {
    EXPECT_EQ(Ask(*client, row.message + "\n", row.answers.size()), row.answers) << row.message;
    std::vector<std::string> expected;
    for (const auto& send : row.sends) expected.insert(expected.end(), send.begin(), send.end());
    EXPECT_EQ(NewTrace(), expected) << row.message;
  }
  EXPECT_TRUE(rig_.person.boxes.empty());
}

TEST_F(Server, ClientsEachWithItsOwnQueueAndHalfOfThemPerHost) {
  std::vector<std::unique_ptr<QTcpSocket>> clients;
  const auto closed = [&](const char* from) {
    QTcpSocket extra;
    extra.bind(QHostAddress(QString::fromLatin1(from)));
    extra.connectToHost(QStringLiteral("127.0.0.1"), port_);
    return Until([&] { return extra.state() == QAbstractSocket::UnconnectedState; });
  };
  for (int i = 0; i < TcpServer::kMaxClientsPerPeer; ++i) clients.push_back(Connect());
  EXPECT_TRUE(closed("127.0.0.1"));  // its host's share is taken, though there is room
  for (int i = 0; i < TcpServer::kMaxClientsPerPeer; ++i) clients.push_back(Connect("127.0.0.2"));
  ASSERT_TRUE(Until([&] { return server_->ClientCount() == TcpServer::kMaxClients; }));
  EXPECT_EQ(server_->Status(), "Remote: " + server_->Address() + ", 16 clients");
  EXPECT_TRUE(closed("127.0.0.3"));  // none left
  EXPECT_EQ(server_->ClientCount(), TcpServer::kMaxClients);
  clients[0]->write("BOGUS\n");
  for (auto& c : clients) {
    EXPECT_EQ(Ask(*c, "SYST:ERR:COUN?\n", 1),
              std::vector<std::string>{c == clients[0] ? "1" : "0"});
  }
  clients.pop_back();
  EXPECT_TRUE(Until([&] { return server_->ClientCount() == 15; }));
  EXPECT_EQ(server_->Status(), "Remote: " + server_->Address() + ", 15 clients");
}

TEST_F(Server, BadClientsLeaveTheOthersServed) {
  auto good = Connect();
  const std::vector<std::string> idn{"pts-panel,PTS500,4,9.9.9"};
  // A line above the limit is dropped whole; the next one is served.
  EXPECT_EQ(Ask(*good, std::string(TcpServer::kMaxLine + 1, 'A') + "\n*IDN?\n", 1), idn);
  EXPECT_EQ(Ask(*good, "SYST:ERR?\n", 1), std::vector<std::string>{"-223,\"Too much data\""});
  const char garbage[] = "\x00\xff\x10 FREQ 1\xfe\n*IDN?\n";
  EXPECT_EQ(Ask(*good, std::string(garbage, sizeof garbage - 1), 1), idn);
  EXPECT_EQ(Ask(*good, "SYST:ERR?\n", 1), std::vector<std::string>{"-102,\"Syntax error\""});

  // Gone in the middle of a line: nothing of it runs, nothing stays.
  {
    auto quitter = Connect();
    quitter->write("FREQ 1000");
    quitter->flush();
    EXPECT_TRUE(Until([&] { return server_->ClientCount() == 2; }));
  }
  EXPECT_TRUE(Until([&] { return server_->ClientCount() == 1; }));

  // One that never reads: dropped once its answers pile up, while the good one is answered.
  const int raw = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  const int small = 4096;
  ::setsockopt(raw, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port_);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::connect(raw, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  EXPECT_TRUE(Until([&] { return server_->ClientCount() == 2; }));
  std::string flood;
  for (int i = 0; i < 2000; ++i) flood += "*IDN?;";
  flood += "\n";
  EXPECT_TRUE(Until([&] {
    [[maybe_unused]] const ssize_t n = ::send(raw, flood.data(), flood.size(), MSG_NOSIGNAL);
    return server_->ClientCount() == 1;
  }));
  ::close(raw);
  EXPECT_EQ(Ask(*good, "*IDN?\n", 1), idn);
  EXPECT_TRUE(NewTrace().empty());
}

TEST_F(Server, CommandsWaitWhileAPanelHandlerRuns) {
  auto client = Connect();
  busy_ = true;  // the operator has a box open
  client->write("FREQ 1000;*IDN?\n");
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  EXPECT_FALSE(client->canReadLine());
  EXPECT_TRUE(NewTrace().empty());
  busy_ = false;
  EXPECT_EQ(Ask(*client, "", 1), std::vector<std::string>{"pts-panel,PTS500,4,9.9.9"});
  EXPECT_EQ(NewTrace(), Out(4, 1000));
}

// MAV: answers queued that the socket has not taken yet, the message's own
// so far among them; *STB?'s own is not one.
TEST_F(Server, StatusByteSaysWhetherAnswersWait) {
  auto client = Connect();
  EXPECT_EQ(Ask(*client, "*SRE 16;*STB?;*STB?\n", 1), (std::vector<std::string>{"0;80"}));
  EXPECT_EQ(Ask(*client, "*STB?\n", 1), std::vector<std::string>{"0"});
}

TEST(ServerListen, AnAddressInUseIsAnError) {
  App();
  RemoteRig rig({0x5E});
  TcpServer first(rig.instrument, [] { return false; });
  TcpServer second(rig.instrument, [] { return false; });
  std::string error;
  ASSERT_TRUE(first.Listen("127.0.0.1", 0, &error));
  const auto port = static_cast<uint16_t>(std::stoi(first.Address().substr(10)));
  EXPECT_FALSE(second.Listen("127.0.0.1", port, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(second.Listen("no.such.host.invalid", 0, &error));
  EXPECT_NE(error.find("no such address"), std::string::npos) << error;
}

}  // namespace
}  // namespace pts::remote

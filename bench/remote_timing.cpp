// Remote-control timing over loopback: starts the program on four simulated
// boards, listening on a free port, and measures as a client
//   - the round trip of "FREQ <f>;*OPC?" (p50, p99, max over 10,000 rounds),
//   - pipelined "FREQ <f>" commands per second (100,000, then one *OPC?).
//
//   remote_timing PROGRAM [OPTION...]    e.g. remote_timing build/release/app/pts-panel --no-window
// Options after PROGRAM go to it (without --no-window it needs a display).
//
//   remote_timing --sweep PROGRAM [OPTION...]
// measures instead the round trip of "*IDN?" idle, then while a second
// client runs a repeating sweep of 1 ms steps (5000 steps of 100 Hz from
// 100 MHz), in the same run, e.g. with --write-latency-ms=0.8 for boards
// whose writes take as long as a real board's.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Die(const char* what) {
  std::perror(what);
  std::exit(1);
}

struct Program {
  pid_t pid = -1;
  int port = 0;
};

Program Start(int argc, char** argv) {
  int out[2];
  if (pipe(out) != 0) Die("pipe");
  Program p;
  p.pid = fork();
  if (p.pid < 0) Die("fork");
  if (p.pid == 0) {
    dup2(out[1], 1);
    std::vector<char*> args{argv[1], const_cast<char*>("--simulate=0x5E,0x5C,0x5A,0x58"),
                            const_cast<char*>("--listen=127.0.0.1:0")};
    for (int i = 2; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    execv(argv[1], args.data());
    Die("exec");
  }
  close(out[1]);
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  const auto colon = line.rfind(':');
  if (line.rfind("listening on ", 0) != 0 || colon == std::string::npos) {
    std::fprintf(stderr, "remote_timing: the program said '%s'\n", line.c_str());
    std::exit(1);
  }
  p.port = std::atoi(line.c_str() + colon + 1);
  return p;
}

int Connect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) Die("connect");
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

void SendAll(int fd, const std::string& s) {
  for (size_t done = 0; done < s.size();) {
    const ssize_t n = send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
    if (n <= 0) Die("send");
    done += static_cast<size_t>(n);
  }
}

// Reads up to and including the next LF.
std::string ReadLine(int fd) {
  static std::map<int, std::string> buffers;
  std::string& buffer = buffers[fd];
  for (;;) {
    const auto lf = buffer.find('\n');
    if (lf != std::string::npos) {
      std::string line = buffer.substr(0, lf);
      buffer.erase(0, lf + 1);
      return line;
    }
    char chunk[4096];
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) Die("recv");
    buffer.append(chunk, static_cast<size_t>(n));
  }
}

double Us(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

// `rounds` round trips of *IDN? after 100 to warm up: p50, p99 and max in us.
std::vector<double> IdnRounds(int fd, int rounds) {
  std::vector<double> rtt;
  rtt.reserve(size_t(rounds));
  for (int i = 0; i < rounds + 100; ++i) {
    const auto t0 = Clock::now();
    SendAll(fd, "*IDN?\n");
    ReadLine(fd);
    if (i >= 100) rtt.push_back(Us(Clock::now() - t0));
  }
  std::sort(rtt.begin(), rtt.end());
  return {rtt[rtt.size() / 2], rtt[rtt.size() * 99 / 100], rtt.back()};
}

int Stop(const Program& program) {
  kill(program.pid, SIGTERM);
  int status = 0;
  waitpid(program.pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

// *IDN? from one client, idle and while another runs a 1 ms sweep.
int SweepRun(const Program& program) {
  const int fd = Connect(program.port);
  const int sweeper = Connect(program.port);
  constexpr int kRounds = 10000;
  const std::vector<double> idle = IdnRounds(fd, kRounds);
  SendAll(sweeper,
          "FREQ:STAR 100000000;:FREQ:STOP 100500000;:SWE:STEP 100;:SWE:TIME 5.0005;"
          ":FREQ:MODE SWE;:INIT:CONT ON;:SWE:DWEL?;:SYST:ERR?\n");
  const std::string dwell = ReadLine(sweeper);
  SendAll(fd, "STAT:OPER:COND?\n");
  const std::string oper = ReadLine(fd);
  const std::vector<double> busy = IdnRounds(fd, kRounds);
  SendAll(sweeper, "ABOR;*OPC?\n");
  ReadLine(sweeper);
  std::printf("sweep: dwell and error '%s', OPER condition while sweeping %s\n", dwell.c_str(),
              oper.c_str());
  std::printf("*IDN? idle     (%d rounds): p50 %.1f us, p99 %.1f us, max %.1f us\n", kRounds,
              idle[0], idle[1], idle[2]);
  std::printf("*IDN? sweeping (%d rounds): p50 %.1f us, p99 %.1f us, max %.1f us\n", kRounds,
              busy[0], busy[1], busy[2]);
  std::printf("sweeping p99 %.1f us against 2 x idle p99 + 100 us = %.1f us\n", busy[1],
              2 * idle[1] + 100);
  close(fd);
  close(sweeper);
  return Stop(program);
}

}  // namespace

int main(int argc, char** argv) {
  const bool sweep = argc >= 2 && std::string(argv[1]) == "--sweep";
  if (sweep) {
    ++argv;
    --argc;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: remote_timing [--sweep] PROGRAM [OPTION...]\n");
    return 2;
  }
  const Program program = Start(argc, argv);
  if (sweep) return SweepRun(program);
  const int fd = Connect(program.port);

  // The same round trip with *IDN? alone (no board touched) is the baseline.
  for (const char* what : {"*IDN?", "FREQ"}) {
    constexpr int kRounds = 10000;
    const bool freq = what[0] == 'F';
    std::vector<double> rtt;
    rtt.reserve(kRounds);
    for (int i = 0; i < kRounds + 100; ++i) {
      const std::string msg =
          freq ? "FREQ " + std::to_string(1000000 + i) + ";*OPC?\n" : std::string("*IDN?\n");
      const auto t0 = Clock::now();
      SendAll(fd, msg);
      const std::string answer = ReadLine(fd);
      if (freq && answer != "1") Die("unexpected answer");
      if (i >= 100) rtt.push_back(Us(Clock::now() - t0));  // the first hundred warm up
    }
    std::sort(rtt.begin(), rtt.end());
    std::printf("round trip %-14s (%d rounds): p50 %.1f us, p99 %.1f us, max %.1f us\n",
                freq ? "FREQ <f>;*OPC?" : "*IDN?", kRounds, rtt[rtt.size() / 2],
                rtt[rtt.size() * 99 / 100], rtt.back());
  }

  constexpr int kPipelined = 100000;
  std::string batch;
  for (int i = 0; i < kPipelined; ++i) batch += "FREQ " + std::to_string(2000000 + i) + "\n";
  batch += "*OPC?\n";
  const auto t0 = Clock::now();
  SendAll(fd, batch);
  if (ReadLine(fd) != "1") Die("unexpected answer");
  const double seconds = Us(Clock::now() - t0) / 1e6;
  std::printf("pipelined FREQ: %d in %.3f s, %.0f per second\n", kPipelined, seconds,
              kPipelined / seconds);
  SendAll(fd, "SYST:ERR:COUN?\n");
  std::printf("errors queued: %s\n", ReadLine(fd).c_str());

  close(fd);
  return Stop(program);
}

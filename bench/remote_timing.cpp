// Remote-control timing over loopback: starts the program on four simulated
// boards, listening on a free port, and measures as a client
//   - the round trip of "FREQ <f>;*OPC?" (p50, p99, max over 10,000 rounds),
//   - pipelined "FREQ <f>" commands per second (100,000, then one *OPC?).
//
//   remote_timing PROGRAM [OPTION...]    e.g. remote_timing build/release/app/pts-panel --no-window
// Options after PROGRAM go to it (without --no-window it needs a display).
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
  static std::string buffer;
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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: remote_timing PROGRAM [OPTION...]\n");
    return 2;
  }
  const Program program = Start(argc, argv);
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
  kill(program.pid, SIGTERM);
  int status = 0;
  waitpid(program.pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

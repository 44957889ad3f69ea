// VXI-11 timing over loopback, as a client through libtirpc: finds the core
// channel through rpcbind, makes a link and measures the round trip of
// device_write "*IDN?" + device_read of its answer, and of "FREQ <f>;*OPC?"
// (a send to every board), p50, p99 and max over ROUNDS after 100 to warm up.
//
//   vxi11_timing [HOST [ROUNDS]]     (a running pts-panel --vxi11; default 127.0.0.1, 10000)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "remote/vxi11/xdr_args.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr timeval kTimeout{10, 0};

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "vxi11_timing: %s\n", what);
  std::exit(1);
}

template <typename A, typename R>
void Call(CLIENT* c, u_long proc, bool_t (*xa)(XDR*, A*), A* args, bool_t (*xr)(XDR*, R*),
          R* res) {
  if (clnt_call(c, proc, reinterpret_cast<xdrproc_t>(xa), reinterpret_cast<char*>(args),
                reinterpret_cast<xdrproc_t>(xr), reinterpret_cast<char*>(res),
                kTimeout) != RPC_SUCCESS) {
    Die(clnt_sperror(c, "call"));
  }
}

// One query: write it, read its answer.
std::string Query(CLIENT* c, Device_Link lid, std::string text) {
  Device_WriteParms w{lid, 5000, 0, 0x08, {static_cast<u_int>(text.size()), text.data()}};
  Device_WriteResp wr{};
  Call(c, device_write, xdr_Device_WriteParms, &w, xdr_Device_WriteResp, &wr);
  Device_ReadParms r{lid, 4096, 5000, 0, 0, 0};
  Device_ReadResp rr{};
  Call(c, device_read, xdr_Device_ReadParms, &r, xdr_Device_ReadResp, &rr);
  if (wr.error != 0 || rr.error != 0) Die("the device answered with an error");
  std::string answer(rr.data.data_val, rr.data.data_len);
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp), &rr);
  return answer;
}

template <typename F>
void Time(const char* what, int rounds, F round) {
  for (int i = 0; i < 100; ++i) round(i);
  std::vector<double> us;
  us.reserve(static_cast<size_t>(rounds));
  for (int i = 0; i < rounds; ++i) {
    const auto t0 = Clock::now();
    round(i);
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  std::sort(us.begin(), us.end());
  std::printf("%-22s p50 %7.1f us  p99 %7.1f us  max %8.1f us  (%d rounds)\n", what,
              us[us.size() / 2], us[us.size() * 99 / 100], us.back(), rounds);
}

}  // namespace

int main(int argc, char** argv) {
  const char* host = argc > 1 ? argv[1] : "127.0.0.1";
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 10000;
  CLIENT* c = clnt_create(host, DEVICE_CORE, DEVICE_CORE_VERSION, "tcp");
  if (!c) Die(clnt_spcreateerror(host));
  char name[] = "inst0";
  Create_LinkParms lp{0, FALSE, 0, name};
  Create_LinkResp link{};
  Call(c, create_link, xdr_Create_LinkParms, &lp, xdr_Create_LinkResp, &link);
  if (link.error != 0) Die("create_link failed");
  const std::string idn = Query(c, link.lid, "*IDN?\n");
  std::printf("%s", idn.c_str());
  Time("*IDN? round trip", rounds, [&](int) { Query(c, link.lid, "*IDN?\n"); });
  Time("FREQ <f>;*OPC? round trip", rounds, [&](int i) {
    Query(c, link.lid, "FREQ " + std::to_string(1000000 + i % 1000) + ";*OPC?\n");
  });
  Device_Error e{};
  Call(c, destroy_link, xdr_Device_Link, &link.lid, xdr_Device_Error, &e);
  clnt_destroy(c);
  return 0;
}

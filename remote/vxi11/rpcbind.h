// Registrations of this process's RPC programs with rpcbind, removed again
// when the registration object goes, and at exit should the program end
// without unwinding (std::exit from the panel's Off).
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace pts::remote::vxi11 {

class Registration {
 public:
  Registration() = default;
  ~Registration();
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;

  // Registers `prog` version `vers` at `address` (TCP, IPv4 or IPv6). A
  // registration left behind by a program that is gone is replaced; one that
  // still answers is not. False, with a one-line reason, when it cannot.
  bool Add(uint32_t prog, uint32_t vers, const sockaddr_storage& address, std::string* error);

 private:
  std::vector<std::pair<uint32_t, uint32_t>> done_;
  bool stale_ = false;  // a registration found in the way belonged to a program that is gone
};

}  // namespace pts::remote::vxi11

// DNS-SD announcements through avahi-daemon (Avahi's client library on the
// event loop), so that LAN browsers (avahi-browse, lxi discover -m) find the
// panel: one service record per way in, all under one instance name, with the
// TXT keys LAN instruments publish (txtvers, Manufacturer, Model,
// FirmwareVersion).
//
// The name: the one given, verbatim, or "pts-panel PTS 500 on HOST" with the
// model and Avahi's host name ("pts-panel on HOST" while no model is known),
// which follows the model. When another host or program holds the name,
// Avahi's alternative ("NAME #2") is taken instead. Each name established is
// said in one line on stdout.
//
// Optional at run time: without avahi-daemon one line on stderr, and the
// services are published once it is there (again after it restarts). The
// records are withdrawn when the announcer is destroyed. Lives on the thread
// of the Qt event loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pts::remote::dnssd {

struct Service {
  std::string type;  // "_scpi-raw._tcp"
  uint16_t port = 0;
  std::string address;                // bound to (numeric): its records go on that interface
  std::vector<std::string> txt = {};  // its own TXT entries beside the common ones
};

struct Listing {
  std::string name;          // empty: the default name
  std::string manufacturer;  // as *IDN? names it
  std::string version;       // the program's
  std::vector<Service> services;
};

// The instance name for a model (nullopt: none known yet) on a host, at most
// the 63 bytes a DNS label holds (the host's part is shortened).
std::string DefaultName(std::optional<int16_t> model, const std::string& host);

// Where a service listening on `address` is announced.
struct Scope {
  int interface = -1;  // AvahiIfIndex; -1: every interface
  int protocol = -1;   // AvahiProtocol; -1: IPv4 and IPv6
  bool loopback = false;
  bool multicast = true;  // false: that interface cannot carry mDNS
};
Scope ScopeOf(const std::string& address);

class Announcer {
 public:
  explicit Announcer(Listing listing);
  ~Announcer();
  Announcer(const Announcer&) = delete;
  Announcer& operator=(const Announcer&) = delete;

  // Connects to avahi-daemon (or waits for it) and publishes.
  void Start();
  // The panel's model now: a default name follows it, and so do the TXT
  // records. Cheap when unchanged (the program calls it after every panel
  // handler and every remote command).
  void SetModel(std::optional<int16_t> model);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pts::remote::dnssd

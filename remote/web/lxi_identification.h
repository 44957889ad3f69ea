// The identification document LAN instruments serve at /lxi/identification
// (the LXI Device Specification's XML, namespace
// http://www.lxistandard.org/InstrumentIdentification/1.0), and the addresses
// it and the page name: never a wildcard a client cannot open, but the
// address a request came in on and, on a wildcard, the machine's own.
#pragma once

#include <QHostAddress>
#include <string>
#include <vector>

namespace pts::remote {

// One address of this machine, with what the document says about its link.
struct NetworkAddress {
  QHostAddress ip;
  std::string interface_name, netmask, mac;
};

// A front end as listening: `host` its listen address ("0.0.0.0", "::" or a
// numeric one), `suffix` what follows the host in its VISA resource
// ("5025::SOCKET", "inst0::INSTR").
struct FrontEnd {
  std::string name, host, suffix;
};

struct Identity {
  std::string manufacturer, model, serial, firmware;  // as *IDN? answers
  std::string description, hostname, identification_url;
};

bool IsWildcard(const QHostAddress& a);
// `a` without a scope, IPv4 for an IPv4-mapped IPv6 address.
QHostAddress Plain(const QHostAddress& a);

// The addresses a client may open when a server listening on `listen` was
// reached through `local`: that one first, then on a wildcard this machine's
// other addresses of the family (no link-local ones; loopback ones only to
// a client on this machine).
std::vector<NetworkAddress> ReachableAddresses(const QHostAddress& listen,
                                               const QHostAddress& local);

// The VISA resource of `front` on `ip`, or empty when `front` does not listen there.
std::string ResourceOn(const FrontEnd& front, const QHostAddress& ip);

std::string IdentificationXml(const Identity& id, const std::vector<NetworkAddress>& addresses,
                              const std::vector<FrontEnd>& fronts);

}  // namespace pts::remote

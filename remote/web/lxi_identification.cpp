#include "remote/web/lxi_identification.h"

#include <QNetworkInterface>

#include "remote/web/markup.h"

namespace pts::remote {

namespace {

void Element(std::string& out, const char* indent, const char* name, const std::string& value) {
  out += std::string(indent) + "<" + name + ">" + MarkupEscape(value) + "</" + name + ">\n";
}

bool SameFamily(const QHostAddress& listen, const QHostAddress& a) {
  if (listen == QHostAddress::Any) return true;  // both families
  return listen.protocol() == a.protocol();
}

}  // namespace

bool IsWildcard(const QHostAddress& a) {
  return a == QHostAddress::AnyIPv4 || a == QHostAddress::AnyIPv6 || a == QHostAddress::Any;
}

QHostAddress Plain(const QHostAddress& a) {
  bool v4 = false;
  const quint32 ip4 = a.toIPv4Address(&v4);
  if (v4) return QHostAddress(ip4);
  QHostAddress plain = a;
  plain.setScopeId(QString());
  return plain;
}

std::vector<NetworkAddress> ReachableAddresses(const QHostAddress& listen,
                                               const QHostAddress& local) {
  const QHostAddress first = Plain(IsWildcard(listen) || local.isNull() ? local : listen);
  std::vector<NetworkAddress> out;
  NetworkAddress reached{first, {}, {}, {}};
  std::vector<NetworkAddress> others;
  for (const QNetworkInterface& nic : QNetworkInterface::allInterfaces()) {
    if (!nic.flags().testFlag(QNetworkInterface::IsUp)) continue;
    std::string mac = nic.hardwareAddress().toStdString();
    for (char& c : mac) c = c == ':' ? '-' : c;
    for (const QNetworkAddressEntry& e : nic.addressEntries()) {
      NetworkAddress a{Plain(e.ip()), nic.name().toStdString(),
                       e.netmask().toString().toStdString(), mac};
      if (a.ip == first) {
        reached = a;
      } else if (IsWildcard(listen) && SameFamily(listen, a.ip) && !a.ip.isLinkLocal() &&
                 (!a.ip.isLoopback() || first.isLoopback())) {
        others.push_back(a);
      }
    }
  }
  if (!first.isNull()) out.push_back(reached);
  out.insert(out.end(), others.begin(), others.end());
  return out;
}

std::string ResourceOn(const FrontEnd& front, const QHostAddress& ip) {
  const QHostAddress listen(QString::fromStdString(front.host));
  const bool there = IsWildcard(listen) ? SameFamily(listen, ip) || listen == QHostAddress::AnyIPv6
                                        : Plain(listen) == Plain(ip);
  if (!there) return {};
  const std::string host = Plain(ip).toString().toStdString();
  const bool v6 = Plain(ip).protocol() == QAbstractSocket::IPv6Protocol;
  return "TCPIP0::" + (v6 ? "[" + host + "]" : host) + "::" + front.suffix;
}

std::string IdentificationXml(const Identity& id, const std::vector<NetworkAddress>& addresses,
                              const std::vector<FrontEnd>& fronts) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<LXIDevice xmlns=\"http://www.lxistandard.org/InstrumentIdentification/1.0\" "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
  Element(out, "  ", "Manufacturer", id.manufacturer);
  Element(out, "  ", "Model", id.model);
  Element(out, "  ", "SerialNumber", id.serial);
  Element(out, "  ", "FirmwareRevision", id.firmware);
  Element(out, "  ", "ManufacturerDescription", id.description);
  Element(out, "  ", "IdentificationURL", id.identification_url);
  for (const NetworkAddress& a : addresses) {
    const bool v6 = a.ip.protocol() == QAbstractSocket::IPv6Protocol;
    out += "  <Interface xsi:type=\"NetworkInformation\" InterfaceType=\"LXI\" IPType=\"";
    out += v6 ? "IPv6" : "IPv4";
    out += "\"";
    if (!a.interface_name.empty())
      out += " InterfaceName=\"" + MarkupEscape(a.interface_name) + "\"";
    out += ">\n";
    for (const FrontEnd& f : fronts) {
      const std::string resource = ResourceOn(f, a.ip);
      if (!resource.empty()) Element(out, "    ", "InstrumentAddressString", resource);
    }
    // The program does not configure the link: it says what it finds, and
    // no gateway, DHCP or AutoIP of its own.
    Element(out, "    ", "Hostname", id.hostname);
    Element(out, "    ", "IPAddress", a.ip.toString().toStdString());
    Element(out, "    ", "SubnetMask", a.netmask);
    Element(out, "    ", "MACAddress", a.mac);
    Element(out, "    ", "Gateway", "");
    Element(out, "    ", "DHCPEnabled", "false");
    Element(out, "    ", "AutoIPEnabled", "false");
    out += "  </Interface>\n";
  }
  Element(out, "  ", "LXIVersion", "1.4");
  return out + "</LXIDevice>\n";
}

}  // namespace pts::remote

#include "remote/dnssd/announcer.h"

#include <arpa/inet.h>
#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/domain.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <QTimer>
#include <cstdio>
#include <cstring>

#include "panel/models.h"
#include "remote/dnssd/avahi_poll.h"

namespace pts::remote::dnssd {

namespace {

constexpr size_t kMaxLabel = 63;  // bytes in a DNS label, the instance name's limit

void Warn(const std::string& text) {
  std::fprintf(stderr, "pts-panel: %s\n", text.c_str());
  std::fflush(stderr);
}

// At most `max` bytes, not ending inside a UTF-8 character.
std::string Fit(std::string s, size_t max) {
  if (s.size() <= max) return s;
  size_t end = max;
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  s.resize(end);
  return s;
}

bool SameAddress(const sockaddr* sa, int family, const void* want) {
  if (!sa || sa->sa_family != family) return false;
  if (family == AF_INET) {
    return std::memcmp(&reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, want,
                       sizeof(in_addr)) == 0;
  }
  return std::memcmp(&reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, want,
                     sizeof(in6_addr)) == 0;
}

}  // namespace

std::string DefaultName(std::optional<int16_t> model, const std::string& host) {
  const std::string head =
      model ? "pts-panel " + ModelDisplayName(model, "") + " on " : std::string("pts-panel on ");
  return head + Fit(host, kMaxLabel - head.size());
}

Scope ScopeOf(const std::string& address) {
  Scope scope;
  unsigned char bytes[sizeof(in6_addr)];
  int family = AF_INET;
  if (inet_pton(AF_INET, address.c_str(), bytes) == 1) {
    scope.protocol = AVAHI_PROTO_INET;
    if (address == "0.0.0.0") return scope;
  } else if (inet_pton(AF_INET6, address.c_str(), bytes) == 1) {
    family = AF_INET6;
    if (address == "::") return scope;  // a dual-stack socket
    scope.protocol = AVAHI_PROTO_INET6;
  } else {
    return scope;  // not numeric: every interface
  }
  // The interface that holds the address: a socket bound to it is reached there.
  ifaddrs* all = nullptr;
  if (getifaddrs(&all) == 0) {
    for (const ifaddrs* i = all; i; i = i->ifa_next) {
      if (!SameAddress(i->ifa_addr, family, bytes)) continue;
      scope.interface = int(if_nametoindex(i->ifa_name));
      scope.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
      scope.multicast = (i->ifa_flags & IFF_MULTICAST) != 0;
      break;
    }
    freeifaddrs(all);
  }
  if (scope.interface <= 0) scope.interface = AVAHI_IF_UNSPEC;
  return scope;
}

struct Announcer::Impl {
  explicit Impl(Listing l) : listing(std::move(l)) {
    for (const Service& s : listing.services) scopes.push_back(ScopeOf(s.address));
    reconnect.setSingleShot(true);
    QObject::connect(&reconnect, &QTimer::timeout, [this] { Connect(); });
  }
  ~Impl() {
    // Freeing the group withdraws its records (a call the daemon answers).
    if (group) avahi_entry_group_free(group);
    if (client) avahi_client_free(client);
  }

  void Connect();
  void OnClient(AvahiClient* c, AvahiClientState state);
  void OnGroup(AvahiEntryGroup* g, AvahiEntryGroupState state);
  void Running();
  void Publish();
  int AddServices();
  AvahiStringList* Txt(const Service& s) const;
  void Lost(bool at_start);

  // The name wanted now: the given one, or the default for the model and host.
  std::string Base() const { return listing.name.empty() ? DefaultName(model, host) : given; }

  Listing listing;
  std::vector<Scope> scopes;  // one per service
  std::string given;          // listing.name as published
  QtAvahiPoll poll;           // outlives the client and group
  AvahiClient* client = nullptr;
  AvahiEntryGroup* group = nullptr;
  QTimer reconnect;  // a client that lost the daemon is replaced outside its callback
  std::optional<int16_t> model;
  std::string host;         // Avahi's host name while running
  std::string name;         // being registered: Base() or Avahi's alternative to it
  std::string established;  // last said on stdout; empty while not published
  bool absence_said = false;
};

void Announcer::Impl::Connect() {
  if (group) avahi_entry_group_free(group);
  group = nullptr;
  if (client) avahi_client_free(client);
  client = nullptr;
  int error = 0;  // the reason is the same to the user: no daemon to reach
  // NO_FAIL: without a daemon the client waits for one instead of failing.
  AvahiClient* c = avahi_client_new(
      poll.Api(), AVAHI_CLIENT_NO_FAIL,
      [](AvahiClient* c, AvahiClientState state, void* self) {
        static_cast<Impl*>(self)->OnClient(c, state);
      },
      this, &error);
  if (!c) {
    // No system bus either (yet, at boot): tried again now and then.
    Lost(true);
    reconnect.start(5000);
    return;
  }
  client = c;
}

void Announcer::Impl::OnClient(AvahiClient* c, AvahiClientState state) {
  client = c;  // the first calls come from inside avahi_client_new
  switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
      absence_said = false;
      Running();
      break;
    case AVAHI_CLIENT_S_REGISTERING:
    case AVAHI_CLIENT_S_COLLISION:
      // The host name is being (re)established; ours wait until it is.
      if (group) avahi_entry_group_reset(group);
      established.clear();
      break;
    case AVAHI_CLIENT_CONNECTING:
      Lost(true);
      break;
    case AVAHI_CLIENT_FAILURE:
      if (avahi_client_errno(c) == AVAHI_ERR_DISCONNECTED) {
        // The daemon went away; this client is spent. A new one waits for it.
        Lost(false);
        group = nullptr;  // freed with the client
        reconnect.start(0);
      } else {
        Warn(std::string("DNS-SD: ") + avahi_strerror(avahi_client_errno(c)));
      }
      break;
  }
}

void Announcer::Impl::Lost(bool at_start) {
  established.clear();
  if (absence_said) return;
  absence_said = true;
  Warn(at_start ? "avahi-daemon is not running: the services are announced once it starts"
                : "lost avahi-daemon: the services are announced again once it is back");
}

void Announcer::Impl::Running() {
  host = avahi_client_get_host_name(client) ? avahi_client_get_host_name(client) : "";
  if (!group) {
    group = avahi_entry_group_new(
        client,
        [](AvahiEntryGroup* g, AvahiEntryGroupState state, void* self) {
          static_cast<Impl*>(self)->OnGroup(g, state);
        },
        this);
    if (!group) {
      Warn(std::string("DNS-SD: ") + avahi_strerror(avahi_client_errno(client)));
      return;
    }
  }
  if (avahi_entry_group_is_empty(group)) {
    name = Base();
    Publish();
  }
}

void Announcer::Impl::OnGroup(AvahiEntryGroup* g, AvahiEntryGroupState state) {
  group = g;
  switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
      if (name != established) {
        established = name;
        std::printf("announced as \"%s\"\n", name.c_str());
        std::fflush(stdout);
      }
      break;
    case AVAHI_ENTRY_GROUP_COLLISION: {
      // Another host answered for the name while it was probed.
      char* other = avahi_alternative_service_name(name.c_str());
      name = other;
      avahi_free(other);
      Publish();
      break;
    }
    case AVAHI_ENTRY_GROUP_FAILURE:
      Warn(std::string("DNS-SD: cannot publish: ") +
           avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(g))));
      break;
    case AVAHI_ENTRY_GROUP_UNCOMMITED:
    case AVAHI_ENTRY_GROUP_REGISTERING:
      break;
  }
}

AvahiStringList* Announcer::Impl::Txt(const Service& s) const {
  std::vector<std::string> entries = {"txtvers=1", "Manufacturer=" + listing.manufacturer,
                                      "Model=" + ModelScpiName(model, "PTS"),
                                      "FirmwareVersion=" + listing.version};
  entries.insert(entries.end(), s.txt.begin(), s.txt.end());
  AvahiStringList* list = nullptr;
  for (const std::string& e : entries) list = avahi_string_list_add(list, e.c_str());
  return avahi_string_list_reverse(list);  // each add went in front
}

int Announcer::Impl::AddServices() {
  for (size_t i = 0; i < listing.services.size(); ++i) {
    const Service& s = listing.services[i];
    AvahiStringList* txt = Txt(s);
    const int rc = avahi_entry_group_add_service_strlst(
        group, AvahiIfIndex(scopes[i].interface), AvahiProtocol(scopes[i].protocol),
        AvahiPublishFlags(0), name.c_str(), s.type.c_str(), nullptr, nullptr, s.port, txt);
    avahi_string_list_free(txt);
    if (rc < 0) return rc;
  }
  return AVAHI_OK;
}

void Announcer::Impl::Publish() {
  if (!group) return;
  avahi_entry_group_reset(group);
  established.clear();
  // A local collision (another program on this daemon holds the name) is
  // known at once; one on the network comes back as a COLLISION state.
  int rc = AddServices();
  for (int tries = 0; rc == AVAHI_ERR_COLLISION && tries < 100; ++tries) {
    char* other = avahi_alternative_service_name(name.c_str());
    name = other;
    avahi_free(other);
    avahi_entry_group_reset(group);
    rc = AddServices();
  }
  if (rc >= 0) rc = avahi_entry_group_commit(group);
  if (rc < 0) {
    avahi_entry_group_reset(group);
    Warn("DNS-SD: cannot publish \"" + name + "\": " + avahi_strerror(rc));
  }
}

Announcer::Announcer(Listing listing) : impl_(std::make_unique<Impl>(std::move(listing))) {}

Announcer::~Announcer() = default;

void Announcer::Start() {
  Impl& d = *impl_;
  if (d.listing.services.empty()) return;
  if (!d.listing.name.empty()) {
    d.given = Fit(d.listing.name, kMaxLabel);
    if (!avahi_is_valid_service_name(d.given.c_str())) {
      Warn("--announce: \"" + d.listing.name + "\" is not a DNS-SD name: nothing announced");
      return;
    }
    if (d.given != d.listing.name) {
      Warn("--announce: the name is longer than 63 bytes: announced as \"" + d.given + "\"");
    }
  }
  std::string local;
  bool unseen = false;
  for (size_t i = 0; i < d.scopes.size(); ++i) {
    if (!d.scopes[i].loopback || local.find(d.listing.services[i].address) != std::string::npos) {
      continue;
    }
    local += (local.empty() ? "" : ", ") + d.listing.services[i].address;
    unseen = unseen || !d.scopes[i].multicast;
  }
  // Announced all the same: a browser on this machine can still use it.
  if (!local.empty() && !unseen) {
    Warn("--announce: listening on loopback (" + local + "): reachable from this machine only");
  } else if (!local.empty()) {
    Warn("--announce: listening on loopback (" + local +
         "), which carries no multicast here: no browser will see the services; listen on a "
         "LAN address");
  }
  d.Connect();
}

void Announcer::SetModel(std::optional<int16_t> model) {
  Impl& d = *impl_;
  if (model == d.model) return;
  d.model = model;
  if (!d.client || !d.group || avahi_client_get_state(d.client) != AVAHI_CLIENT_S_RUNNING ||
      avahi_entry_group_is_empty(d.group)) {
    return;  // taken up when it is published
  }
  if (d.listing.name.empty()) {
    d.name = d.Base();
    d.Publish();
    return;
  }
  for (const Service& s : d.listing.services) {
    AvahiStringList* txt = d.Txt(s);
    const size_t i = size_t(&s - d.listing.services.data());
    const int rc = avahi_entry_group_update_service_txt_strlst(
        d.group, AvahiIfIndex(d.scopes[i].interface), AvahiProtocol(d.scopes[i].protocol),
        AvahiPublishFlags(0), d.name.c_str(), s.type.c_str(), nullptr, txt);
    avahi_string_list_free(txt);
    if (rc < 0) {
      d.Publish();
      return;
    }
  }
}

}  // namespace pts::remote::dnssd

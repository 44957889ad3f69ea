#include "remote/vxi11/device.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>

#include "remote/vxi11/xdr_args.h"

namespace pts::remote::vxi11 {

namespace {

using Clock = std::chrono::steady_clock;

// Procedures of the core channel, and the abort channel's one.
enum Proc : uint32_t {
  kNull = 0,
  kAbortProc = 1,
  kCreateLink = 10,
  kWrite = 11,
  kRead = 12,
  kReadStb = 13,
  kTrigger = 14,
  kClear = 15,
  kRemote = 16,
  kLocal = 17,
  kLock = 18,
  kUnlock = 19,
  kEnableSrq = 20,
  kDocmd = 22,
  kDestroyLink = 23,
  kCreateIntrChan = 25,
  kDestroyIntrChan = 26,
};

// Device_Flags and the reasons a read ends.
constexpr int kWaitLock = 0x01;
constexpr int kEnd = 0x08;
constexpr int kTermChrSet = 0x80;
constexpr int kReasonRequestCount = 1;
constexpr int kReasonChr = 2;
constexpr int kReasonEnd = 4;

// Room for a partial line and one more write.
constexpr size_t kMaxInput = Device::kMaxLine + Device::kMaxRecvSize;

// The one device here: "inst0", as VISA names it by default, or "inst".
bool OurName(const char* name) {
  return name && (strcasecmp(name, "inst0") == 0 || strcasecmp(name, "inst") == 0);
}

}  // namespace

struct Device::Link {
  Link(Device& d, int32_t link_id, uint64_t made_by, std::string made_from)
      : id(link_id),
        owner(made_by),
        peer(std::move(made_from)),
        queue(d.runner_, [&d, this] { d.Serve(*this); }) {
    // MAV: answers device_read has not yet taken, or the message's so far.
    session.OutputWaiting([this] { return head < out.size() || queue.Answered(); });
  }
  int32_t id;
  uint64_t owner;    // the connection that made it
  std::string peer;  // and its address, which alone may abort its calls
  Session session;
  LineBuffer in{kMaxLine};
  CommandRunner::Queue queue;
  std::string out;  // answers; device_read takes them from `head` on
  size_t head = 0;
  size_t Unread() const { return out.size() - head; }
};

struct Device::Pending {
  enum class Phase { None, Lock, Io };
  uint64_t connection = 0;
  uint32_t xid = 0;
  uint32_t proc = 0;
  int32_t lid = 0;
  int32_t flags = 0;
  uint32_t io_timeout = 0;    // ms
  uint32_t lock_timeout = 0;  // ms
  uint32_t request_size = 0;
  char term = 0;
  std::string data;
  bool lock_device = false;  // create_link: take the lock too
  Clock::time_point arrived;
  Phase phase = Phase::None;  // what it waits for
  Clock::time_point deadline;
  bool done = false;
};

Device::Device(Instrument& instrument, std::function<bool()> busy, Replier reply, QObject* parent)
    : QObject(parent),
      instrument_(instrument),
      runner_(instrument, std::move(busy)),
      reply_(std::move(reply)) {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &Device::Retry);
}

Device::~Device() {
  pending_.clear();
  for (auto& l : links_) instrument_.Detach(l->session);
  links_.clear();
}

bool Device::HasLinks(uint64_t connection) const {
  return std::any_of(links_.begin(), links_.end(),
                     [connection](const auto& l) { return l->owner == connection; });
}

int Device::LinksFrom(const std::string& peer) const {
  return int(std::count_if(links_.begin(), links_.end(),
                           [&peer](const auto& l) { return l->peer == peer; }));
}

Device::Link* Device::Find(int32_t id) {
  for (auto& l : links_) {
    if (l->id == id) return l.get();
  }
  return nullptr;
}

Device::Link* Device::Owned(int32_t id, uint64_t connection) {
  Link* l = Find(id);
  return l && l->owner == connection ? l : nullptr;
}

void Device::Core(uint64_t connection, const std::string& peer, const CallHeader& call,
                  const std::string& record, bool oversized) {
  Pending p;
  p.connection = connection;
  p.xid = call.xid;
  p.proc = call.proc;
  p.arrived = Clock::now();
  auto garbage = [&] { reply_(connection, ErrorReply(call.xid, kGarbageArgs)); };
  if (oversized) {
    // A write above maxRecvSize is the client's error, and it is owed an answer.
    if (call.proc == kWrite) return Finish(p, kParameterError);
    return garbage();
  }
  auto generic = [&] {
    Args<Device_GenericParms> a(xdr_Device_GenericParms);
    if (!a.Decode(record, call.args)) return false;
    p.lid = a.value.lid;
    p.flags = a.value.flags;
    p.lock_timeout = a.value.lock_timeout;
    p.io_timeout = a.value.io_timeout;
    return true;
  };
  auto link_only = [&] {
    Args<Device_Link> a(xdr_Device_Link);
    if (!a.Decode(record, call.args)) return false;
    p.lid = a.value;
    return true;
  };
  switch (call.proc) {
    case kNull:
      return reply_(connection, VoidReply(call.xid));
    case kCreateLink: {
      Args<Create_LinkParms> a(xdr_Create_LinkParms);
      if (!a.Decode(record, call.args)) return garbage();
      if (!OurName(a.value.device)) return Finish(p, kDeviceNotAccessible);
      // One host's links leave room for another's.
      if (LinkCount() >= kMaxLinks || LinksFrom(peer) >= kMaxLinksPerPeer) {
        return Finish(p, kOutOfResources);
      }
      while (next_id_ <= 0 || Find(next_id_)) next_id_ = next_id_ <= 0 ? 1 : next_id_ + 1;
      p.lid = next_id_++;
      links_.push_back(std::make_unique<Link>(*this, p.lid, connection, peer));
      instrument_.Attach(links_.back()->session);
      // Waiting for the lock, when asked to take it, as device_lock with waitlock does.
      p.lock_device = a.value.lockDevice;
      p.flags = p.lock_device ? kWaitLock : 0;
      p.lock_timeout = a.value.lock_timeout;
      break;
    }
    case kWrite: {
      Args<Device_WriteParms> a(xdr_Device_WriteParms);
      if (!a.Decode(record, call.args)) return garbage();
      p.lid = a.value.lid;
      p.io_timeout = a.value.io_timeout;
      p.lock_timeout = a.value.lock_timeout;
      p.flags = a.value.flags;
      p.data.assign(a.value.data.data_val, a.value.data.data_len);
      break;
    }
    case kRead: {
      Args<Device_ReadParms> a(xdr_Device_ReadParms);
      if (!a.Decode(record, call.args)) return garbage();
      p.lid = a.value.lid;
      p.request_size = a.value.requestSize;
      p.io_timeout = a.value.io_timeout;
      p.lock_timeout = a.value.lock_timeout;
      p.flags = a.value.flags;
      p.term = a.value.termChar;
      break;
    }
    case kReadStb:
    case kTrigger:
    case kClear:
    case kRemote:
    case kLocal:
      if (!generic()) return garbage();
      break;
    case kLock: {
      Args<Device_LockParms> a(xdr_Device_LockParms);
      if (!a.Decode(record, call.args)) return garbage();
      p.lid = a.value.lid;
      p.flags = a.value.flags;
      p.lock_timeout = a.value.lock_timeout;
      break;
    }
    case kUnlock:
    case kDestroyLink:
      if (!link_only()) return garbage();
      break;
    case kEnableSrq: {
      Args<Device_EnableSrqParms> a(xdr_Device_EnableSrqParms);
      if (!a.Decode(record, call.args)) return garbage();
      p.lid = a.value.lid;
      break;
    }
    case kDocmd: {
      Args<Device_DocmdParms> a(xdr_Device_DocmdParms);
      if (!a.Decode(record, call.args)) return garbage();
      p.lid = a.value.lid;
      break;
    }
    case kCreateIntrChan: {
      // No interrupt channel: service requests are read with device_readstb.
      Args<Device_RemoteFunc> a(xdr_Device_RemoteFunc);
      if (!a.Decode(record, call.args)) return garbage();
      return Finish(p, kOperationNotSupported);
    }
    case kDestroyIntrChan:
      return Finish(p, kChannelNotEstablished);
    default:
      return reply_(connection, ErrorReply(call.xid, kProcUnavail));
  }
  Start(std::move(p));
}

void Device::Abort(uint64_t connection, const std::string& peer, const CallHeader& call,
                   const std::string& record, bool oversized) {
  if (call.proc == kNull) return reply_(connection, VoidReply(call.xid));
  if (call.proc != kAbortProc) return reply_(connection, ErrorReply(call.xid, kProcUnavail));
  Args<Device_Link> a(xdr_Device_Link);
  if (oversized || !a.Decode(record, call.args)) {
    return reply_(connection, ErrorReply(call.xid, kGarbageArgs));
  }
  // The abort channel is a connection of its own: the link's owner is known
  // by its address there. From any other host the link does not exist.
  const Link* l = Find(a.value);
  const bool ours = l && l->peer == peer;
  Device_Error result{ours ? kNoError : kInvalidLink};
  // The link's read or write that waits (for its answer, for room, for the
  // lock) ends with "abort".
  for (Pending& p : pending_) {
    if (ours && !p.done && p.lid == a.value && p.connection == l->owner &&
        (p.proc == kRead || p.proc == kWrite)) {
      Finish(p, kAborted);
    }
  }
  if (!retrying_) pending_.remove_if([](const Pending& p) { return p.done; });
  reply_(connection, Reply(call.xid, xdr_Device_Error, result));
  Arm();
}

void Device::Dropped(uint64_t connection) {
  for (Pending& p : pending_) {
    if (p.connection == connection) p.done = true;  // nobody to answer
  }
  for (;;) {
    auto it = std::find_if(links_.begin(), links_.end(),
                           [connection](const auto& l) { return l->owner == connection; });
    if (it == links_.end()) break;
    Destroy((*it)->id);
  }
  Retry();
}

void Device::Destroy(int32_t id) {
  if (lock_ == id) lock_ = 0;
  for (Pending& p : pending_) {
    if (!p.done && p.lid == id) Finish(p, kInvalidLink);
  }
  auto it = std::find_if(links_.begin(), links_.end(), [id](const auto& l) { return l->id == id; });
  if (it == links_.end()) return;
  instrument_.Detach((*it)->session);
  links_.erase(it);
}

void Device::Start(Pending p) {
  pending_.push_back(std::move(p));
  Retry();
}

void Device::Retry() {
  if (retrying_) {
    again_ = true;  // the pass under way goes round once more
    return;
  }
  retrying_ = true;
  do {
    again_ = false;
    for (Pending& p : pending_) {
      if (!p.done) Try(p);
    }
    pending_.remove_if([](const Pending& p) { return p.done; });
  } while (again_);
  retrying_ = false;
  Arm();
}

void Device::Arm() {
  auto next = Clock::time_point::max();
  for (const Pending& p : pending_) {
    if (!p.done && p.phase != Pending::Phase::None) next = std::min(next, p.deadline);
  }
  if (next == Clock::time_point::max()) {
    timer_.stop();
    return;
  }
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
  timer_.start(static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX / 2)));
}

Device::Gate Device::LockGate(Pending& p) const {
  if (lock_ == 0 || lock_ == p.lid) return Gate::Go;
  if (!(p.flags & kWaitLock)) return Gate::Locked;
  if (p.phase != Pending::Phase::Lock) {
    p.phase = Pending::Phase::Lock;
    p.deadline = p.arrived + std::chrono::milliseconds(p.lock_timeout);
  }
  return Clock::now() >= p.deadline ? Gate::Locked : Gate::Wait;
}

bool Device::IoExpired(Pending& p) {
  if (p.phase != Pending::Phase::Io) {
    p.phase = Pending::Phase::Io;
    p.deadline = Clock::now() + std::chrono::milliseconds(p.io_timeout);
  }
  return Clock::now() >= p.deadline;
}

void Device::Answer(Pending& p, std::string record) {
  p.done = true;
  reply_(p.connection, std::move(record));
}

void Device::Finish(Pending& p, int error) {
  switch (p.proc) {
    case kCreateLink:
      return Answer(p, Reply(p.xid, xdr_Create_LinkResp, Create_LinkResp{error, 0, 0, 0}));
    case kWrite:
      return Answer(p, Reply(p.xid, xdr_Device_WriteResp, Device_WriteResp{error, 0}));
    case kRead:
      return Answer(p, Reply(p.xid, xdr_Device_ReadResp, Device_ReadResp{error, 0, {0, nullptr}}));
    case kReadStb:
      return Answer(p, Reply(p.xid, xdr_Device_ReadStbResp, Device_ReadStbResp{error, 0}));
    case kDocmd:
      return Answer(p, Reply(p.xid, xdr_Device_DocmdResp, Device_DocmdResp{error, {0, nullptr}}));
    default:
      return Answer(p, Reply(p.xid, xdr_Device_Error, Device_Error{error}));
  }
}

bool Device::Try(Pending& p) {
  // Another connection's link is no link at all for this one: it can
  // neither write to it, read its answers, lock, unlock nor destroy it.
  Link* l = Owned(p.lid, p.connection);
  if (!l) {
    Finish(p, kInvalidLink);
    return true;
  }
  if (p.proc == kCreateLink && !p.lock_device) {
    Answer(p, Reply(p.xid, xdr_Create_LinkResp,
                    Create_LinkResp{kNoError, l->id, abort_port_, kMaxRecvSize}));
    return true;
  }
  switch (p.proc) {
    case kUnlock:
      if (lock_ != l->id) {
        Finish(p, kNoLockHeld);
        return true;
      }
      lock_ = 0;
      Finish(p, kNoError);
      Retry();  // those waiting for the lock
      return true;
    case kEnableSrq:
      Finish(p, kNoError);
      return true;
    case kDocmd:
      Finish(p, kOperationNotSupported);
      return true;
    case kDestroyLink:
      Finish(p, kNoError);
      Destroy(l->id);
      Retry();
      return true;
    case kWrite:
      if (p.data.size() > kMaxRecvSize) {
        Finish(p, kParameterError);
        return true;
      }
      break;
    default:
      break;
  }
  switch (LockGate(p)) {
    case Gate::Wait:
      return false;
    case Gate::Locked:
      if (p.proc == kCreateLink) {
        const int32_t id = l->id;
        Finish(p, kDeviceLocked);
        Destroy(id);  // no link without the lock it asked for
      } else {
        Finish(p, kDeviceLocked);
      }
      return true;
    case Gate::Go:
      break;
  }
  switch (p.proc) {
    case kCreateLink:
      lock_ = l->id;
      Answer(p, Reply(p.xid, xdr_Create_LinkResp,
                      Create_LinkResp{kNoError, l->id, abort_port_, kMaxRecvSize}));
      return true;
    case kLock:
      lock_ = l->id;
      Finish(p, kNoError);
      return true;
    case kWrite:
      return TryWrite(p, *l);
    case kRead:
      return TryRead(p, *l);
    case kReadStb: {
      instrument_.Update();
      const auto stb = static_cast<u_char>(l->session.StatusByte());
      Answer(p, Reply(p.xid, xdr_Device_ReadStbResp, Device_ReadStbResp{kNoError, stb}));
      return true;
    }
    case kTrigger:
      // After what was written before it, as *TRG in the input would run.
      if (!l->queue.Idle() || l->in.Size() > 0) {
        if (IoExpired(p)) Finish(p, kIoTimeout);
        return p.done;
      }
      l->queue.Set(ParseMessage("*TRG"));
      Finish(p, kNoError);
      Serve(*l);
      return true;
    case kClear:
      // Input, the message being run (a waiting *OPC? too), and unread answers.
      l->in.Clear();
      l->queue.Clear();
      l->out.clear();
      l->head = 0;
      l->session.CancelOperationWait();
      Finish(p, kNoError);
      return true;
    default:  // device_remote, device_local: nothing to switch here
      Finish(p, kNoError);
      return true;
  }
}

bool Device::TryWrite(Pending& p, Link& l) {
  if (l.in.Size() + p.data.size() > kMaxInput) {
    if (IoExpired(p)) Finish(p, kIoTimeout);
    return p.done;
  }
  l.in.Append(p.data.data(), p.data.size());
  if (p.flags & kEnd) l.in.EndLine();
  Answer(p, Reply(p.xid, xdr_Device_WriteResp,
                  Device_WriteResp{kNoError, static_cast<u_int>(p.data.size())}));
  Serve(l);
  return true;
}

bool Device::TryRead(Pending& p, Link& l) {
  if (l.Unread() == 0) {
    if (IoExpired(p)) Finish(p, kIoTimeout);
    return p.done;
  }
  // One response message per read: it ends at its LF, with END.
  const char* d = l.out.data() + l.head;
  size_t n = std::min<size_t>({l.Unread(), p.request_size, kMaxOutput});
  int reason = 0;
  if (const void* lf = std::memchr(d, '\n', n)) {
    n = static_cast<size_t>(static_cast<const char*>(lf) - d) + 1;
    reason = kReasonEnd;
  }
  if (p.flags & kTermChrSet) {
    if (const void* t = std::memchr(d, p.term, n)) {
      const auto m = static_cast<size_t>(static_cast<const char*>(t) - d) + 1;
      reason = m < n ? kReasonChr : reason | kReasonChr;
      n = m;
    }
  }
  if (n == p.request_size) reason |= kReasonRequestCount;
  Device_ReadResp r{kNoError, reason, {static_cast<u_int>(n), const_cast<char*>(d)}};
  Answer(p, Reply(p.xid, xdr_Device_ReadResp, r));
  l.head += n;
  if (l.head == l.out.size()) {
    l.out.clear();
    l.head = 0;
  } else if (l.head > kMaxRecvSize) {
    l.out.erase(0, l.head);
    l.head = 0;
  }
  Serve(l);  // its commands may have stopped for room
  return true;
}

void Device::Serve(Link& l) {
  CommandRunner::Turn turn;
  std::string line;
  while (l.Unread() < kMaxOutput) {
    if (!l.queue.Empty()) {
      if (runner_.Run(l.queue, l.session, &l.out, turn) != CommandRunner::Ran::Done) break;
      continue;
    }
    if (!l.in.Next(&line, l.session)) break;
    l.queue.Set(ParseMessage(line));
  }
  Retry();  // last: a call it answers may destroy the link
}

}  // namespace pts::remote::vxi11

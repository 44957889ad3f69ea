#include "remote/vxi11/rpc_stream.h"

#include <rpc/rpc.h>

#include <algorithm>

namespace pts::remote::vxi11 {

namespace {

constexpr uint32_t kLastFragment = 0x80000000u;

uint32_t BigEndian(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return uint32_t{u[0]} << 24 | uint32_t{u[1]} << 16 | uint32_t{u[2]} << 8 | uint32_t{u[3]};
}

// Encodes `msg` as one record: a single fragment behind its header.
std::string Record(rpc_msg& msg) {
  const auto size = static_cast<u_int>(xdr_sizeof(reinterpret_cast<xdrproc_t>(xdr_replymsg), &msg));
  std::string out(4 + size, '\0');
  XDR x;
  xdrmem_create(&x, out.data() + 4, size, XDR_ENCODE);
  const bool ok = xdr_replymsg(&x, &msg);
  xdr_destroy(&x);
  if (!ok) return {};  // a result the routine cannot encode: no reply rather than a wrong one
  const uint32_t mark = kLastFragment | size;
  for (int i = 0; i < 4; ++i) out[static_cast<size_t>(i)] = static_cast<char>(mark >> (24 - 8 * i));
  return out;
}

rpc_msg Accepted(uint32_t xid, accept_stat stat) {
  rpc_msg msg{};
  msg.rm_xid = xid;
  msg.rm_direction = REPLY;
  msg.rm_reply.rp_stat = MSG_ACCEPTED;
  msg.acpted_rply.ar_verf = _null_auth;
  msg.acpted_rply.ar_stat = stat;
  return msg;
}

bool_t XdrVoid(XDR*, void*) {
  return TRUE;
}

}  // namespace

RecordReader::Got RecordReader::Next(std::string* record) {
  for (;;) {
    if (!in_fragment_) {
      if (Buffered() < 4) break;
      const uint32_t header = BigEndian(buf_.data() + pos_);
      pos_ += 4;
      last_ = (header & kLastFragment) != 0;
      left_ = header & ~kLastFragment;
      in_fragment_ = true;
      // Decided at the header, so that a length the client never sends holds nothing.
      if (record_.size() + left_ > max_record_) oversized_ = true;
    }
    const size_t n = std::min<size_t>(left_, Buffered());
    const size_t keep = oversized_ ? std::min(n, kKeep - std::min(kKeep, record_.size())) : n;
    record_.append(buf_, pos_, keep);
    pos_ += n;
    left_ -= static_cast<uint32_t>(n);
    if (left_ > 0) break;
    in_fragment_ = false;
    if (last_) {
      record->swap(record_);
      record_.clear();
      const bool oversized = oversized_;
      oversized_ = false;
      return oversized ? Got::Oversized : Got::Record;
    }
  }
  buf_.erase(0, pos_);
  pos_ = 0;
  return Got::None;
}

Header DecodeCall(const std::string& record, CallHeader* call) {
  // xid, direction, RPC version first: xdr_callmsg refuses any version but 2
  // without saying so, and such a call is owed an answer.
  if (record.size() < 12 || BigEndian(record.data() + 4) != CALL) return Header::Garbage;
  call->xid = BigEndian(record.data());
  if (BigEndian(record.data() + 8) != RPC_MSG_VERSION) return Header::RpcMismatch;
  rpc_msg msg{};
  char cred[MAX_AUTH_BYTES], verf[MAX_AUTH_BYTES];  // the bodies go here, never to the heap
  msg.rm_call.cb_cred.oa_base = cred;
  msg.rm_call.cb_verf.oa_base = verf;
  XDR x;
  xdrmem_create(&x, const_cast<char*>(record.data()), static_cast<u_int>(record.size()),
                XDR_DECODE);
  const bool ok = xdr_callmsg(&x, &msg);
  call->args = XDR_GETPOS(&x);
  xdr_destroy(&x);
  if (!ok) return Header::Garbage;
  call->prog = static_cast<uint32_t>(msg.rm_call.cb_prog);
  call->vers = static_cast<uint32_t>(msg.rm_call.cb_vers);
  call->proc = static_cast<uint32_t>(msg.rm_call.cb_proc);
  return Header::Call;
}

std::string ErrorReply(uint32_t xid, AcceptStat stat) {
  rpc_msg msg = Accepted(xid, static_cast<accept_stat>(stat));
  if (stat == kProgMismatch) {
    msg.acpted_rply.ar_vers.low = 1;
    msg.acpted_rply.ar_vers.high = 1;
  }
  // The other errors carry no results; the routine is never called for them.
  msg.acpted_rply.ar_results.proc = reinterpret_cast<xdrproc_t>(XdrVoid);
  return Record(msg);
}

std::string MismatchReply(uint32_t xid) {
  rpc_msg msg{};
  msg.rm_xid = xid;
  msg.rm_direction = REPLY;
  msg.rm_reply.rp_stat = MSG_DENIED;
  msg.rjcted_rply.rj_stat = RPC_MISMATCH;
  msg.rjcted_rply.rj_vers.low = RPC_MSG_VERSION;
  msg.rjcted_rply.rj_vers.high = RPC_MSG_VERSION;
  return Record(msg);
}

std::string SuccessReply(uint32_t xid, XdrProc encode, const void* result) {
  rpc_msg msg = Accepted(xid, SUCCESS);
  msg.acpted_rply.ar_results.where = static_cast<caddr_t>(const_cast<void*>(result));
  msg.acpted_rply.ar_results.proc = reinterpret_cast<xdrproc_t>(encode);
  return Record(msg);
}

std::string VoidReply(uint32_t xid) {
  return SuccessReply(xid, reinterpret_cast<XdrProc>(XdrVoid), nullptr);
}

}  // namespace pts::remote::vxi11

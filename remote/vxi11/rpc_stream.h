// ONC RPC over a TCP stream, without sockets: record marking (each record
// sent as fragments behind a 4-byte header, bit 31 marking the last), the
// call header, and replies. Everything here takes untrusted bytes and is
// bounded; the VXI-11 server feeds it what it receives, the fuzzer feeds it
// anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pts::remote::vxi11 {

class RecordReader {
 public:
  // What is kept of a record above the bound: enough for its call header.
  static constexpr size_t kKeep = 4096;

  explicit RecordReader(size_t max_record) : max_record_(max_record) {}
  void Feed(const char* data, size_t size) { buf_.append(data, size); }

  enum class Got {
    None,       // no record is complete yet
    Record,     // *record is the next record
    Oversized,  // the next record was above the bound: *record is its start, the rest was skipped
  };
  Got Next(std::string* record);
  // Received bytes not yet taken into a record (at most a partial header
  // once Next has said None).
  size_t Buffered() const { return buf_.size() - pos_; }

 private:
  size_t max_record_;
  std::string buf_;
  size_t pos_ = 0;
  std::string record_;  // the fragments so far
  uint32_t left_ = 0;   // of the fragment being received
  bool in_fragment_ = false;
  bool last_ = false;  // the fragment being received ends the record
  bool oversized_ = false;
};

// A call's header. Credentials and verifier are read and ignored: there is no
// authentication.
struct CallHeader {
  uint32_t xid = 0;
  uint32_t prog = 0;
  uint32_t vers = 0;
  uint32_t proc = 0;
  size_t args = 0;  // where the arguments start in the record
};

enum class Header {
  Call,         // *call is filled in
  RpcMismatch,  // a call of another RPC version: answer with MismatchReply (xid is set)
  Garbage,      // not a call: nothing can be answered
};
Header DecodeCall(const std::string& record, CallHeader* call);

// Reply records, record mark included. The accepted states are those of
// RFC 5531 (SUCCESS 0, PROG_UNAVAIL 1, PROG_MISMATCH 2, PROC_UNAVAIL 3,
// GARBAGE_ARGS 4, SYSTEM_ERR 5).
enum AcceptStat : int {
  kSuccess = 0,
  kProgUnavail = 1,
  kProgMismatch = 2,
  kProcUnavail = 3,
  kGarbageArgs = 4,
};
// An accepted call's error (not kSuccess); for kProgMismatch the versions
// served are 1 to 1.
std::string ErrorReply(uint32_t xid, AcceptStat stat);
// A call of RPC version other than 2.
std::string MismatchReply(uint32_t xid);
// A successful reply: `encode` writes the results (the XDR routine of their
// type and the object), called through libtirpc.
using XdrProc = int (*)(void*, void*);  // bool_t (*)(XDR*, T*), type-erased
std::string SuccessReply(uint32_t xid, XdrProc encode, const void* result);
// A successful reply without results (the null procedure's).
std::string VoidReply(uint32_t xid);

}  // namespace pts::remote::vxi11

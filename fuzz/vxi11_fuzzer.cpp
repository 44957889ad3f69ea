// Feeds arbitrary bytes to the VXI-11 server's stream parser as a client's
// TCP stream would bring them: cut into pieces (the first byte chooses how),
// reassembled into records, each decoded as a call and its arguments as the
// procedure it names takes them, then encoded back as a reply. ASan and UBSan
// catch the rest; the checks hold the bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "remote/vxi11/xdr_args.h"

namespace {

using namespace pts::remote::vxi11;

constexpr size_t kMaxRecord = 512;

void Check(bool condition) {
  if (!condition) std::abort();
}

// Decodes the arguments as `T`, and encodes what came out (the reply path).
template <typename T>
void Decode(XdrOf<T> proc, const std::string& record, size_t offset) {
  Args<T> a(proc);
  if (!a.Decode(record, offset)) return;
  const std::string reply = Reply(1, proc, a.value);
  Check(reply.size() >= 4 && reply.size() <= 64 + record.size());
}

void Call(const std::string& record) {
  CallHeader call;
  switch (DecodeCall(record, &call)) {
    case Header::Garbage:
      return;
    case Header::RpcMismatch:
      Check(!MismatchReply(call.xid).empty());
      return;
    case Header::Call:
      break;
  }
  Check(call.args <= record.size());
  Check(!ErrorReply(call.xid, static_cast<AcceptStat>(call.proc % 5)).empty());
  switch (call.proc % 12) {
    case 0:
      return Decode(xdr_Create_LinkParms, record, call.args);
    case 1:
      return Decode(xdr_Device_WriteParms, record, call.args);
    case 2:
      return Decode(xdr_Device_ReadParms, record, call.args);
    case 3:
      return Decode(xdr_Device_GenericParms, record, call.args);
    case 4:
      return Decode(xdr_Device_LockParms, record, call.args);
    case 5:
      return Decode(xdr_Device_Link, record, call.args);
    case 6:
      return Decode(xdr_Device_EnableSrqParms, record, call.args);
    case 7:
      return Decode(xdr_Device_DocmdParms, record, call.args);
    case 8:
      return Decode(xdr_Device_RemoteFunc, record, call.args);
    case 9:
      return Decode(xdr_Device_ReadResp, record, call.args);
    case 10:
      return Decode(xdr_Create_LinkResp, record, call.args);
    default:
      return Decode(xdr_Device_SrqParms, record, call.args);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // Pieces of 1 to 256 bytes, as recv might hand them over.
  const size_t piece = size_t{data[0]} + 1;
  RecordReader reader(kMaxRecord);
  std::string record;
  for (size_t at = 1; at < size; at += piece) {
    const size_t n = std::min(piece, size - at);
    reader.Feed(reinterpret_cast<const char*>(data + at), n);
    for (;;) {
      const RecordReader::Got got = reader.Next(&record);
      if (got == RecordReader::Got::None) break;
      Check(record.size() <= (got == RecordReader::Got::Record ? kMaxRecord : RecordReader::kKeep));
      Call(record);
    }
    Check(reader.Buffered() < 4);  // all else is taken at once
  }
  return 0;
}

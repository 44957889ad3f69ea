// Feeds arbitrary bytes to the WebSocket frame decoder as a client's stream,
// whole and then cut in two where the first byte says, and checks that both
// give the same events and that what comes out keeps the decoder's promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "remote/web/ws_frames.h"

namespace {

constexpr size_t kMax = 4096;

void Check(bool condition) {
  if (!condition) std::abort();
}

std::vector<pts::remote::ws::Event> Run(std::string_view bytes, size_t split) {
  pts::remote::ws::Decoder d(kMax);
  std::vector<pts::remote::ws::Event> events;
  d.Feed(bytes.substr(0, split), &events);
  d.Feed(bytes.substr(split), &events);
  return events;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pts::remote::ws;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto whole = Run(bytes, bytes.size());
  for (size_t i = 0; i < whole.size(); ++i) {
    const Event& e = whole[i];
    // An error or a close is the last thing said.
    if (e.kind == Event::kError || e.kind == Event::kClose) Check(i + 1 == whole.size());
    if (e.kind == Event::kText) Check(ValidUtf8(e.data) && e.data.size() <= kMax);
    if (e.kind == Event::kBinary) Check(e.data.size() <= kMax);
    if (e.kind == Event::kPing || e.kind == Event::kPong) Check(e.data.size() <= 125);
    if (e.kind == Event::kError) {
      Check(e.code == kProtocolError || e.code == kInvalidData || e.code == kTooBig);
    }
  }
  // Cut anywhere, the stream means the same.
  const auto cut = Run(bytes, size == 0 ? 0 : data[0] % (size + 1));
  Check(cut.size() == whole.size());
  for (size_t i = 0; i < cut.size(); ++i) {
    Check(cut[i].kind == whole[i].kind && cut[i].data == whole[i].data &&
          cut[i].code == whole[i].code);
  }
  return 0;
}

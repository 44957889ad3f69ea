// The bounds every front end shares.
#pragma once

#include <cstddef>

namespace pts::remote {

// The longest program message any front end takes: a list of 10,000
// frequencies fits. A WebSocket frame or a VXI-11 write is no larger either.
inline constexpr size_t kMaxMessage = 256 * 1024;

}  // namespace pts::remote

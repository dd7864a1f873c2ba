#pragma once
// The window side of the reader's hand-over. Implemented by the window framework, so the
// serial layer needs nothing of it but this.

#include <cstdint>
#include <stop_token>

namespace serial {

class NotifyTarget {
 public:
  virtual ~NotifyTarget() = default;

  // Queues msg for the user-interface thread and blocks until its handler has returned (true).
  // Returns false at once when the window is gone, or as soon as `stop` is requested while the
  // message still waits; such a message stays queued and its handler still runs later.
  [[nodiscard]] virtual bool SendMessageSync(uint32_t msg, uintptr_t wParam, intptr_t lParam,
                                             std::stop_token stop) = 0;

  // Blocks until no message queued by SendMessageSync waits for its handler any more, or until
  // `stop` is requested or the window is gone (false).
  [[nodiscard]] virtual bool WaitIdle(std::stop_token stop) = 0;
};

}  // namespace serial

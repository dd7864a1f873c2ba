#pragma once
// The owner's side of the reader's hand-over. Implemented by the window framework and by
// nibp-cli's pump, so the serial layer needs nothing of either but this.

#include <cstdint>

namespace serial {

class NotifyTarget {
 public:
  virtual ~NotifyTarget() = default;

  // Queues msg for the owner's thread and returns at once; the owner's handler runs later on its
  // own thread. A message to a target that is gone is dropped. Any thread.
  virtual void PostNotify(uint32_t msg, uintptr_t wParam) = 0;
};

}  // namespace serial

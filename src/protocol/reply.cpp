// Placeholder until the assembler lands: nothing is assembled.
#include "protocol/reply.h"

#include <cstdio>

namespace protocol {

void ReplyReceiver::ResetFrameState() {
  m_nFrameLen = 0;
  m_bFramePending = 0;
  m_parkedLen[0] = m_parkedLen[1] = 0;
}
void ReplyReceiver::PushReplyByte(uint8_t) {}
uint8_t ReplyReceiver::PopReplyByte() { return 0; }
bool ReplyReceiver::Step(uint8_t) { return false; }
TickOutput DispatchTick(ReplyReceiver&) {
  TickOutput out;
  out.stopTimer = true;
  return out;
}
std::string FormatPressure(int mmHg) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%3d mmHg", mmHg);
  return buf;
}

}  // namespace protocol

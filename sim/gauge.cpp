#include "sim/gauge.h"

#include <algorithm>
#include <cstdio>
#include <span>
#include <utility>

namespace sim {

std::string GaugeLine(double mmHg) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f mmHg\r\n", std::max(mmHg, 0.0));
  return buf;
}

Gauge::Gauge(std::string port, std::filesystem::path link)
    : port_(std::move(port)), link_(std::move(link)) {}

std::string Gauge::Open() {
  const PortEntry entry = InspectPortEntry(link_.path());
  if (entry.kind == PortEntry::kNotALink || entry.kind == PortEntry::kOther) {
    return port_ + " is taken by something that is not a simulator's line: left alone";
  }
  pty_ = Pty::Open();
  link_.Point(pty_.slavePath());
  next_ = Clock::now();
  return {};
}

void Gauge::Tick(Clock::time_point now, double mmHg) {
  // Whatever the reader sends is not for us.
  for (MasterInput in = pty_.Read(); !in.empty() && !in.closed; in = pty_.Read()) {
  }
  if (now < next_) return;
  while (next_ <= now) next_ += kPeriod;
  const std::string line = GaugeLine(mmHg);
  (void)pty_.Write(std::span(reinterpret_cast<const uint8_t*>(line.data()), line.size()));
}

}  // namespace sim

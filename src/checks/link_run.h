#pragma once
// A run of checks on a module link, for any driver (the command line, a window): the engine's
// commands go out through the link, the link's events come back into it, and the driver ticks it
// at NextTickMs(). A gauge on a second serial port feeds the static check's reference. No Qt and
// no threads of its own: every call comes from the thread the link runs on.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "checks/engine.h"
#include "link/link.h"
#include "serial/comm.h"
#include "serial/notify_target.h"
#include "serial/platform.h"

namespace checks {

class LinkRun final : public CommandOut, public modlink::EventSink {
 public:
  // The owner hands the link's events to OnEvent (adds this as a sink, or forwards them).
  LinkRun(modlink::Link& link, std::vector<CheckKind> checks, Params params,
          ReferenceSource* reference = nullptr, Observer* observer = nullptr);

  // Asks the module for its cuff pressure first: the checks begin once it answers empty (or
  // stays silent, which the engine then reports), and the run is refused when the port is not
  // open or the cuff holds pressure (a measurement is running).
  void Start(int64_t nowMs);
  void Tick(int64_t nowMs);
  void Abort(std::string_view reason, int64_t nowMs);
  [[nodiscard]] bool Done() const;
  [[nodiscard]] int64_t NextTickMs() const;
  // Why the run did not begin ("the port is not open", "a measurement is running"), or nothing.
  [[nodiscard]] const std::optional<std::string>& Refused() const { return refused_; }
  [[nodiscard]] const Engine& engine() const { return engine_; }

  SendResult Send(const commands::Request& request) override;
  void OnEvent(const modlink::Event& event) override;

 private:
  enum class State : uint8_t { kIdle, kProbe, kRunning, kRefused };

  modlink::Link& link_;
  Engine engine_;
  State state_ = State::kIdle;
  int64_t probeSince_ = 0;
  int64_t nextProbe_ = 0;
  std::optional<std::string> refused_;
};

// A reference gauge on a second serial port (COMn, as the ports are mapped): each whole line it
// sends goes to the GaugeReference. The port is read when Poll is called, at every tick.
class GaugePort final : public serial::NotifyTarget {
 public:
  GaugePort(Unit unit, uint8_t port, uint32_t baud,
            std::shared_ptr<serial::Platform> platform = serial::MakePosixPlatform());
  ~GaugePort() override;
  GaugePort(const GaugePort&) = delete;
  GaugePort& operator=(const GaugePort&) = delete;

  // False when the port cannot be opened; then OpenFailure() says why.
  [[nodiscard]] bool Open();
  [[nodiscard]] const std::string& OpenFailure() const { return comm_.OpenFailure(); }
  void Poll(int64_t nowMs);
  [[nodiscard]] GaugeReference& Reference() { return reference_; }

  void PostNotify(uint32_t /*msg*/, uintptr_t /*wParam*/) override {}  // polled instead

 private:
  uint8_t port_;
  uint32_t baud_;
  CComm comm_;
  GaugeReference reference_;
  std::string partial_;
};

}  // namespace checks

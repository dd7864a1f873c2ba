#pragma once
// The service checks on the console's link: what the console offers a run (its port, its clock,
// its sends, its events) and the run itself, an engine whose commands go out through the console
// so that the logs, the session file, the chart and the results fill as for any command.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "checks/engine.h"
#include "commands/commands.h"
#include "link/event.h"

namespace console {

class ChecksHost {
 public:
  virtual ~ChecksHost() = default;
  [[nodiscard]] virtual bool ChecksPortOpen() const = 0;
  [[nodiscard]] virtual bool ChecksMeasuring() const = 0;
  [[nodiscard]] virtual std::string ChecksPort() const = 0;    // "COM1"
  [[nodiscard]] virtual std::string ChecksDevice() const = 0;  // "/dev/pts/3"
  // The clock the console stamps the events it forwards with.
  [[nodiscard]] virtual int64_t ChecksNowMs() const = 0;
  virtual SendResult ChecksSend(const commands::Request& request) = 0;
  // While a sink is set the console forwards its events there and keeps its own commands off.
  virtual void SetChecksSink(modlink::EventSink* sink) = 0;
  virtual void ChecksMarker(int64_t ms, const std::string& label) = 0;
  // A line for the event log and the session file: "Service checks: leak", "Safety: device lost".
  virtual void ChecksLog(const std::string& line) = 0;
  // The run stopped for safety without its vent going out: send pump off, valves open as soon as
  // the port is open again.
  virtual void ChecksVentWhenBack() = 0;
};

// One run of checks; destroying it while it runs aborts it through the engine's safety path.
class ChecksRun final : private modlink::EventSink,
                        private checks::CommandOut,
                        private checks::Observer {
 public:
  ChecksRun(ChecksHost& host, std::vector<checks::CheckKind> kinds, const checks::Params& params,
            checks::ReferenceSource* reference, checks::Observer* observer);
  ~ChecksRun() override;
  ChecksRun(const ChecksRun&) = delete;
  ChecksRun& operator=(const ChecksRun&) = delete;

  void Start();
  // Called often (every 50 ms or so); lets go of the console once the run is done.
  void Tick();
  void Abort(const std::string& reason);
  [[nodiscard]] bool Done() const { return engine_.Done(); }
  [[nodiscard]] const checks::Engine& Engine() const { return engine_; }

 private:
  void OnEvent(const modlink::Event& event) override;
  SendResult Send(const commands::Request& request) override;
  void OnLog(std::string_view line) override;
  void OnProgress(const checks::Progress& progress) override;
  void OnCheckDone(const checks::CheckResult& result) override;
  void Release();

  ChecksHost& host_;
  checks::Observer* observer_;
  std::string lastPhase_;
  bool attached_ = false;
  checks::Engine engine_;
};

}  // namespace console

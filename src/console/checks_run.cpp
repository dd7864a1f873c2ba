#include "console/checks_run.h"

namespace console {

ChecksRun::ChecksRun(ChecksHost& host, std::vector<checks::CheckKind> kinds,
                     const checks::Params& params, checks::ReferenceSource* reference,
                     checks::Observer* observer)
    : host_(host), observer_(observer), engine_(std::move(kinds), params, *this, reference, this) {}

ChecksRun::~ChecksRun() {
  if (attached_ && !engine_.Done()) engine_.Abort("closed", host_.ChecksNowMs());
  Release();
}

void ChecksRun::Start() {
  host_.SetChecksSink(this);
  attached_ = true;
  std::string names;
  for (const checks::CheckKind kind : engine_.Checks())
    names += (names.empty() ? "" : ", ") + std::string(checks::CheckName(kind));
  host_.ChecksLog("Service checks: " + names);
  engine_.Start(host_.ChecksNowMs());
}

void ChecksRun::Tick() {
  if (!attached_) return;
  engine_.OnTick(host_.ChecksNowMs());
  if (engine_.Done()) Release();
}

void ChecksRun::Abort(const std::string& reason) {
  if (!attached_) return;
  engine_.Abort(reason, host_.ChecksNowMs());
  Release();
}

void ChecksRun::Release() {
  if (!attached_) return;
  attached_ = false;
  host_.SetChecksSink(nullptr);
  if (engine_.VentUnsent()) host_.ChecksVentWhenBack();
}

void ChecksRun::OnEvent(const modlink::Event& event) {
  engine_.OnEvent(event);
}

SendResult ChecksRun::Send(const commands::Request& request) {
  return host_.ChecksSend(request);
}

void ChecksRun::OnLog(std::string_view line) {
  host_.ChecksLog(std::string(line));
  if (observer_ != nullptr) observer_->OnLog(line);
}

void ChecksRun::OnProgress(const checks::Progress& progress) {
  // Each new phase is a marker on the chart: "leak: Holding".
  std::string phase = progress.phase.substr(0, progress.phase.find(':'));
  if (phase.rfind("Pumping", 0) == 0) phase = "Pumping";
  if (phase != lastPhase_) {
    lastPhase_ = phase;
    host_.ChecksMarker(host_.ChecksNowMs(), progress.check + ": " + phase);
  }
  if (observer_ != nullptr) observer_->OnProgress(progress);
}

void ChecksRun::OnCheckDone(const checks::CheckResult& result) {
  // "leak: FAIL: leak rate 8.2 mmHg/min above the limit of 6.0 mmHg/min"
  std::string line = std::string(checks::CheckName(result.kind)) + ": " +
                     std::string(checks::VerdictName(result.verdict));
  if (!result.reason.empty()) line += ": " + result.reason;
  host_.ChecksLog(line);
  if (observer_ != nullptr) observer_->OnCheckDone(result);
}

}  // namespace console

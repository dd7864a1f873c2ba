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
}

void ChecksRun::OnEvent(const modlink::Event& event) {
  engine_.OnEvent(event);
}

SendResult ChecksRun::Send(const commands::Request& request) {
  return host_.ChecksSend(request);
}

void ChecksRun::OnLog(std::string_view line) {
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
  if (observer_ != nullptr) observer_->OnCheckDone(result);
}

}  // namespace console

#include "cli/check_run.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

#include "checks/link_run.h"
#include "checks/report.h"
#include "cli/link.h"
#include "program/numbers.h"
#include "records/record_format.h"

namespace cli {
namespace {

using SteadyClock = std::chrono::steady_clock;
using checks::CheckKind;
using checks::Verdict;
// Closing purges the line: the last command (pump off, valves open) is given time to go out.
constexpr auto kDrain = std::chrono::milliseconds(150);
// The gauge's lines are taken at least this often.
constexpr int64_t kGaugePollMs = 100;
constexpr int64_t kProgressEveryMs = 1000;
constexpr int kBarWidth = 20;

int StatusOf(Verdict v) {
  switch (v) {
    case Verdict::kPass:
    case Verdict::kInfo:
      return kExitOk;
    case Verdict::kFail:
      return kExitLimits;
    case Verdict::kAborted:
      break;
  }
  return kExitTimeout;
}

// The worst of two exit statuses: ABORTED (3) over a port problem (2) over FAIL (1) over 0.
int Worst(int a, int b) {
  return std::max(a, b);
}

std::string Signed1(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%+.1f", v == 0 ? 0.0 : v);
  return buf;
}

std::string Fixed1(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

// What a check found, in a few words for the summary table.
std::string Findings(const checks::CheckResult& r) {
  if (const auto* l = std::get_if<checks::LeakResult>(&r.findings)) {
    if (r.verdict == Verdict::kAborted || (l->startMmHg == 0 && l->endMmHg == 0)) return "-";
    return Fixed1(l->rateMmHgMin) + " mmHg/min, " + std::to_string(l->startMmHg) + " -> " +
           std::to_string(l->endMmHg) + " mmHg";
  }
  if (const auto* s = std::get_if<checks::StaticResult>(&r.findings)) {
    if (s->points.empty()) return "-";
    const auto worst =
        std::max_element(s->points.begin(), s->points.end(), [](const auto& a, const auto& b) {
          return std::fabs(a.errorMmHg) < std::fabs(b.errorMmHg);
        });
    return "worst error " + Signed1(worst->errorMmHg) + " mmHg at " +
           std::to_string(worst->targetMmHg) + " mmHg";
  }
  if (const auto* o = std::get_if<checks::OverpressureResult>(&r.findings)) {
    if (o->peakMmHg == 0) return "-";
    std::string s = "peak " + std::to_string(o->peakMmHg) + " mmHg";
    if (o->released) s += ", released after " + Fixed1(o->releaseS) + " s";
    return s;
  }
  const auto& rep = std::get<checks::RepeatResult>(r.findings);
  return std::to_string(rep.rows.size()) + " measurement" + (rep.rows.size() == 1 ? "" : "s");
}

// The reference typed at the terminal, one reading a point. Standard input is read without
// blocking, so the checks' polls go on while the engineer reads the gauge.
class PromptReference final : public checks::ReferenceSource {
 public:
  explicit PromptReference(std::FILE* err) : err_(err) {}

  checks::ReferenceAnswer Read(size_t point, int targetMmHg, int64_t /*nowMs*/) override {
    using State = checks::ReferenceAnswer::State;
    if (asked_ != point) {
      asked_ = point;
      Prompt(targetMmHg);
    }
    TakeInput();
    while (true) {
      const size_t end = typed_.find('\n');
      if (end == std::string::npos) break;
      std::string line = typed_.substr(0, end);
      typed_.erase(0, end + 1);
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
      while (!line.empty() && line.front() == ' ') line.erase(0, 1);
      if (const auto v = program::ParseNumber(line, -1000, 1000)) return {State::kValue, *v, {}};
      std::fprintf(err_, "nibp-cli: \"%s\" is not a reading in mmHg\n", line.c_str());
      Prompt(targetMmHg);
    }
    if (ended_) return {State::kFailed, 0, "no reference reading typed"};
    return {};
  }

 private:
  void Prompt(int targetMmHg) {
    std::fprintf(err_, "\nReference reading at %d mmHg: ", targetMmHg);
    std::fflush(err_);
  }
  void TakeInput() {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    while (!ended_ && ::poll(&p, 1, 0) > 0) {
      char buf[256];
      const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
      if (n <= 0) {
        ended_ = true;
        // A last line without its end still counts.
        if (!typed_.empty() && typed_.back() != '\n') typed_ += '\n';
        break;
      }
      typed_.append(buf, static_cast<size_t>(n));
    }
  }

  std::FILE* err_;
  std::optional<size_t> asked_;
  std::string typed_;
  bool ended_ = false;
};

// The engine's progress on stderr, and its log lines among the records. A progress bar
// rewritten in place on a terminal with one port; otherwise a line when the phase changes, and
// at most one a second besides.
class PortObserver final : public checks::Observer {
 public:
  PortObserver(std::string port, Output& out, std::FILE* err, bool bar)
      : port_(std::move(port)), out_(out), err_(err), bar_(bar) {}

  void OnLog(std::string_view line) override {
    out_.Record(records::Tag::kEvent, line);
    EndBar();
    std::fprintf(err_, "%s: %.*s\n", port_.c_str(), static_cast<int>(line.size()), line.data());
  }

  void OnProgress(const checks::Progress& p) override {
    const int64_t now = records::NowMs();
    if (p.phase == lastPhase_ && now - lastMs_ < kProgressEveryMs) return;
    lastPhase_ = p.phase;
    lastMs_ = now;
    std::string text = port_ + " " + p.check + " (" + std::to_string(p.checkIndex + 1) + "/" +
                       std::to_string(p.checkCount) + "): " + p.phase;
    if (p.cuffMmHg) text += ", cuff " + std::to_string(*p.cuffMmHg) + " mmHg";
    if (bar_) {
      const int filled =
          static_cast<int>(std::lround(std::clamp(p.fraction, 0.0, 1.0) * kBarWidth));
      std::fprintf(err_, "\r[%s%s] %s\033[K", std::string(filled, '#').c_str(),
                   std::string(kBarWidth - filled, '-').c_str(), text.c_str());
      std::fflush(err_);
      barShown_ = true;
    } else {
      std::fprintf(err_, "%s\n", text.c_str());
    }
  }

  void OnCheckDone(const checks::CheckResult& r) override {
    EndBar();
    std::string line = port_ + " " + std::string(checks::CheckName(r.kind)) + ": " +
                       std::string(checks::VerdictName(r.verdict));
    if (!r.reason.empty()) line += ": " + r.reason;
    std::fprintf(err_, "%s\n", line.c_str());
    lastPhase_.clear();
  }

  void EndBar() {
    if (!barShown_) return;
    std::fputc('\n', err_);
    barShown_ = false;
  }

 private:
  std::string port_;
  Output& out_;
  std::FILE* err_;
  bool bar_;
  bool barShown_ = false;
  std::string lastPhase_;
  int64_t lastMs_ = 0;
};

struct PortRun {
  LinkTarget target;
  std::string name;  // "COM3", or the device given
  int status = kExitOk;
  std::string failure;  // why the run could not go on (stderr)
  std::string warning;
  std::vector<checks::CheckResult> results;
};

void RunPort(PortRun& run, const Options& o, const CheckOptions& c, std::FILE* err, bool bar,
             const StopFlag& stop) {
  Output out(stdout, o.json);
  Link link(run.target, out);
  link.ShowReceived(false);
  link.SetEcho(Link::Echo::kEvents);
  link.QuietPolls(true);
  link.OnFrame([&](const modlink::Event& e) {
    if (e.kind == modlink::EventKind::kBpData) out.Result(e.lines, e.bp, c.params.repeat.mode);
  });
  if (!link.Open()) {
    run.status = kExitUsage;
    run.failure = link.FailureLine();
    return;
  }
  std::unique_ptr<checks::GaugePort> gauge;
  std::unique_ptr<checks::ReferenceSource> given;
  checks::ReferenceSource* reference = nullptr;
  if (c.referencePort) {
    gauge = std::make_unique<checks::GaugePort>(c.referenceUnit, *c.referencePort, c.referenceBaud);
    if (!gauge->Open()) {
      run.status = kExitUsage;
      run.failure = "--reference-port: " + gauge->OpenFailure();
      return;
    }
    reference = &gauge->Reference();
  } else if (c.referenceList) {
    given = std::make_unique<checks::ListReference>(*c.referenceList);
    reference = given.get();
  } else {
    given = std::make_unique<PromptReference>(err);
    reference = given.get();
  }

  PortObserver observer(run.name, out, err, bar);
  checks::LinkRun checks(link.Module(), c.checks, c.params, reference, &observer);
  link.Forward(&checks);
  const StopFlag noStop{0};
  bool stopped = false;
  checks.Start(records::NowMs());
  while (!checks.Done()) {
    if (const int sig = stop; sig != 0 && !stopped) {
      checks.Abort(StoppedBy(sig), records::NowMs());
      stopped = true;
      continue;
    }
    if (out.Failed()) {
      checks.Abort("write error on standard output", records::NowMs());
      break;
    }
    int64_t wait = std::max<int64_t>(0, checks.NextTickMs() - records::NowMs());
    if (gauge) wait = std::min(wait, kGaugePollMs);
    link.RunUntil(SteadyClock::now() + std::chrono::milliseconds(wait), stopped ? noStop : stop);
    if (gauge) gauge->Poll(records::NowMs());
    checks.Tick(records::NowMs());
  }
  observer.EndBar();
  link.RunUntil(SteadyClock::now() + kDrain, noStop);
  link.Forward(nullptr);

  if (const auto& why = checks.Refused()) {
    run.status = stopped ? kExitTimeout : kExitUsage;
    run.failure = run.name + ": " + *why;
    return;
  }
  const checks::Engine& engine = checks.engine();
  run.results = engine.Results();
  run.status = StatusOf(engine.OverallVerdict());
  if (!c.reportPath.empty()) {
    checks::ReportInfo info{c.operatorName,         c.moduleId,      run.name,
                            link.Module().Device(), c.referenceName, c.referenceDue};
    const checks::RunRecord record = checks::RecordOf(engine);
    if (auto due = checks::DueWarning(info, record.startMs)) run.warning = *due;
    const std::string path =
        o.ports.size() > 1 ? checks::ReportPathForPort(c.reportPath, run.name) : c.reportPath;
    if (const std::string error = checks::WriteReports(path, info, record); !error.empty()) {
      run.failure = path + ": " + error;
      run.status = Worst(run.status, kExitUsage);
    }
  }
}

std::string SummaryTable(const std::vector<PortRun>& runs, Verdict overall) {
  char line[512];
  std::string s;
  std::snprintf(line, sizeof line, "%-8s %-13s %-8s %s\n", "port", "check", "verdict", "result");
  s += line;
  for (const PortRun& run : runs) {
    if (run.results.empty()) {
      std::snprintf(line, sizeof line, "%-8s %-13s %-8s %s\n", run.name.c_str(), "-", "-",
                    run.failure.c_str());
      s += line;
    }
    for (const checks::CheckResult& r : run.results) {
      std::string result = Findings(r);
      if (!r.reason.empty()) result += " (" + r.reason + ")";
      std::snprintf(line, sizeof line, "%-8s %-13s %-8s %s\n", run.name.c_str(),
                    std::string(checks::CheckName(r.kind)).c_str(),
                    std::string(checks::VerdictName(r.verdict)).c_str(), result.c_str());
      s += line;
    }
  }
  s += "overall: " + std::string(checks::VerdictName(overall));
  return s;
}

std::string SummaryJsonLine(const std::vector<PortRun>& runs, Verdict overall) {
  using checks::JsonString;
  std::string s = "{\"summary\":[";
  bool first = true;
  for (const PortRun& run : runs) {
    for (const checks::CheckResult& r : run.results) {
      if (!first) s += ',';
      first = false;
      s += "{\"port\":" + JsonString(run.name) +
           ",\"check\":" + JsonString(checks::CheckName(r.kind)) +
           ",\"verdict\":" + JsonString(checks::VerdictName(r.verdict)) +
           ",\"reason\":" + JsonString(r.reason) + ",\"result\":" + JsonString(Findings(r)) + "}";
    }
  }
  s += "],\"verdict\":" + JsonString(checks::VerdictName(overall)) + "}";
  return s;
}

}  // namespace

int RunCheck(const Options& o, const CheckOptions& c, Output& out, std::FILE* err,
             const StopFlag& stop) {
  std::vector<PortRun> runs;
  if (o.ports.size() <= 1) {
    PortRun run;
    run.target = {o.port, o.device};
    run.name = o.device.empty() ? "COM" + std::to_string(o.port) : o.device;
    runs.push_back(std::move(run));
  } else {
    for (const uint8_t port : o.ports) {
      PortRun run;
      run.target = {port, {}};
      run.name = "COM" + std::to_string(port);
      runs.push_back(std::move(run));
    }
  }
  const bool bar = runs.size() == 1 && ::isatty(::fileno(err)) != 0;
  if (runs.size() == 1) {
    RunPort(runs[0], o, c, err, bar, stop);
  } else {
    std::vector<std::jthread> threads;
    threads.reserve(runs.size());
    for (PortRun& run : runs) {
      threads.emplace_back([&run, &o, &c, err, &stop] { RunPort(run, o, c, err, false, stop); });
    }
  }  // the threads are joined here

  int status = kExitOk;
  std::vector<checks::CheckResult> all;
  bool anyRefused = false;
  for (const PortRun& run : runs) {
    status = Worst(status, run.status);
    if (!run.failure.empty()) std::fprintf(err, "nibp-cli: %s\n", run.failure.c_str());
    if (!run.warning.empty()) std::fprintf(err, "nibp-cli: warning: %s\n", run.warning.c_str());
    if (run.results.empty()) anyRefused = true;
    all.insert(all.end(), run.results.begin(), run.results.end());
  }
  const Verdict overall = anyRefused ? Verdict::kAborted : checks::Overall(all);
  out.Text(out.Json() ? SummaryJsonLine(runs, overall) : SummaryTable(runs, overall));
  return out.Failed() ? kExitOutput : status;
}

}  // namespace cli

#include "cli/run.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>

#include "cli/check_run.h"
#include "cli/link.h"
#include "commands/command_text.h"
#include "link/silence.h"
#include "ports/ports.h"
#include "program/numbers.h"
#include "records/file_io.h"
#include "results/end_detector.h"
#include "results/measurements.h"
#include "serial/ports_dir.h"

namespace cli {
namespace {

using SteadyClock = std::chrono::steady_clock;
using Echo = Link::Echo;
constexpr auto kPollPeriod = std::chrono::milliseconds(250);
// A Get BP Data that got no answer is asked again after this long.
constexpr auto kResultRetry = std::chrono::seconds(1);
constexpr auto kAbortDrain = std::chrono::milliseconds(100);
constexpr auto kReplyWithin = std::chrono::milliseconds(modlink::kReplyWithinMs);
constexpr char kNoReplyLine[] =
    "no reply from the module within 1 s: check the cable, the port and the module's power";

SteadyClock::duration Seconds(double s) {
  return std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(s));
}

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             SteadyClock::now().time_since_epoch())
      .count();
}

int Fail(std::FILE* err, const std::string& line, int status) {
  std::fprintf(err, "nibp-cli: %s\n", line.c_str());
  return status;
}

LinkTarget TargetOf(const Options& o) {
  return {o.port, o.device};
}

SendResult SendTo(Link& link, const commands::Request& request, Echo echo) {
  return link.Send(request, echo);
}

}  // namespace

std::string StoppedBy(int sig) {
  switch (sig) {
    case SIGINT:
      return "stopped by SIGINT";
    case SIGTERM:
      return "stopped by SIGTERM";
    case SIGHUP:
      return "stopped by SIGHUP";
    default:
      return "stopped by signal " + std::to_string(sig);
  }
}

namespace {

// Leaves the cuff empty rather than the module measuring on. Closing purges the line, so the
// command is given time to go out first (9600 baud is slow).
void AbortMeasurement(Link& link) {
  (void)SendTo(link, commands::Simple(commands::Command::kAbortBp), Echo::kEvents);
  const StopFlag noStop{0};
  link.RunUntil(SteadyClock::now() + kAbortDrain, noStop);
}

int RunSend(const Options& o, const SendOptions& s, Output& out, std::FILE* err,
            const StopFlag& stop) {
  Link link(TargetOf(o), out);
  modlink::SilenceWatch silence;
  link.OnFrame([&](const modlink::Event& e) { (void)silence.OnEvent(e, SteadyMs()); });
  if (!link.Open()) return Fail(err, link.FailureLine(), kExitUsage);
  size_t bytes = 0;
  bool measuring = false;  // a start went out and no abort after it
  for (const commands::Request& c : s.commands) {
    if (stop || out.Failed()) break;
    protocol::TxBuf tx{};
    bytes += commands::BuildFrame(c, tx);
    if (SendTo(link, c, Echo::kAll) == SendResult::kSent) {
      if (commands::StartMode(c.command)) measuring = true;
      if (c.command == commands::Command::kAbortBp) measuring = false;
      modlink::Event sent;
      sent.request = c;
      (void)silence.OnEvent(sent, SteadyMs());
    }
  }
  // Closing purges the line, so the listening lasts at least until the bytes are out (a byte
  // takes about 1 ms at 9600 baud); a command that expects a reply is given its second.
  auto wait = std::max(Seconds(s.listenSeconds),
                       SteadyClock::duration(std::chrono::milliseconds(20 + 2 * bytes)));
  if (silence.Waiting()) wait = std::max(wait, SteadyClock::duration(kReplyWithin));
  if (!stop && !out.Failed()) link.RunUntil(SteadyClock::now() + wait, stop);
  if (out.Failed()) return kExitOutput;
  if (const int sig = stop) {
    if (measuring && !link.Lost()) AbortMeasurement(link);
    return Fail(err, StoppedBy(sig), kExitTimeout);
  }
  if (link.Lost()) return Fail(err, link.FailureLine(), kExitUsage);
  if (silence.OnTick(SteadyMs()) == modlink::SilenceWatch::Change::kSilent) {
    return Fail(err, kNoReplyLine, kExitTimeout);
  }
  return kExitOk;
}

int RunWatch(const Options& o, const WatchOptions& w, Output& out, std::FILE* err,
             const StopFlag& stop) {
  Link link(TargetOf(o), out);
  link.ShowReceived(false);
  link.OnFrame([&](const modlink::Event& e) {
    if (e.kind == modlink::EventKind::kCuffPressure) out.Record(records::Tag::kEvent, e.lines[0]);
  });
  if (!link.Open()) return Fail(err, link.FailureLine(), kExitUsage);
  const auto end = w.durationSeconds ? SteadyClock::now() + Seconds(*w.durationSeconds)
                                     : SteadyClock::time_point::max();
  const commands::Request poll = commands::Simple(commands::Command::kGetPressure);
  for (auto next = SteadyClock::now(); !stop && !out.Failed() && SteadyClock::now() < end;) {
    (void)SendTo(link, poll, Echo::kNone);
    // Polls missed while the process was stalled are skipped, not sent back to back.
    next += kPollPeriod;
    if (const auto now = SteadyClock::now(); next <= now) next = now + kPollPeriod;
    link.RunUntil(std::min(next, end), stop);
  }
  if (out.Failed()) return kExitOutput;
  if (const int sig = stop) return Fail(err, StoppedBy(sig), kExitTimeout);
  if (link.Lost()) return Fail(err, link.FailureLine(), kExitUsage);
  return kExitOk;
}

class Measurement {
 public:
  Measurement(const MeasureOptions& m, Link& link, Output& out) : m_(m), link_(link), out_(out) {
    link_.OnFrame([this](const modlink::Event& e) { OnFrame(e); });
  }

  enum class End { kResult, kTimeout, kStopped };
  // Any frame came from the module during the last run.
  [[nodiscard]] bool Answered() const { return answered_; }

  // One measurement; `row` is filled when it ends with a result.
  End Run(long index, const StopFlag& stop, results::MeasurementRow& row) {
    detector_ = results::EndDetector{};
    result_.reset();
    askedForResult_ = false;
    answered_ = false;
    const int64_t startMs = records::NowMs();
    const auto start = SteadyClock::now();
    const auto deadline = start + Seconds(m_.timeoutSeconds);
    bool started = false;
    SteadyClock::time_point lastAsk{};
    for (auto next = start;;) {
      if (link_.Lost()) {
        // Nothing goes out until the device is back (RunUntil opens it again).
      } else if (!started) {
        // Sent again after a loss: the module cannot have started without it.
        if (m_.inflate) (void)SendTo(link_, commands::SetPressure(*m_.inflate), Echo::kEvents);
        started = SendTo(link_, commands::Simple(commands::StartCommand(m_.mode)), Echo::kEvents) ==
                  SendResult::kSent;
      } else if (!detector_.Ended()) {
        (void)SendTo(link_, commands::Simple(commands::Command::kGetPressure), Echo::kNone);
      } else if (!askedForResult_ || SteadyClock::now() - lastAsk >= kResultRetry) {
        const bool sent = SendTo(link_, commands::Simple(commands::Command::kGetBpData),
                                 Echo::kEvents) == SendResult::kSent;
        askedForResult_ = askedForResult_ || sent;
        lastAsk = SteadyClock::now();
      }
      while (next <= SteadyClock::now()) next += kPollPeriod;
      link_.RunUntil(std::min(next, deadline), stop);
      if (result_) break;
      if (stop || out_.Failed()) return End::kStopped;
      if (SteadyClock::now() >= deadline) return End::kTimeout;
    }
    row.index = index;
    row.startMs = startMs;
    row.durationS = std::chrono::duration<double>(SteadyClock::now() - start).count();
    row.peakMmHg = detector_.Peak();
    row.bp = *result_;
    row.mode = m_.mode;
    return End::kResult;
  }

 private:
  void OnFrame(const modlink::Event& e) {
    using modlink::EventKind;
    // The result is asked for, and taken, at once rather than at the next poll.
    answered_ = true;
    if (e.kind == EventKind::kCuffPressure && !detector_.Ended() &&
        detector_.Feed(SteadyMs(), e.mmHg)) {
      link_.ReturnEarly();
    }
    // Only the answer to this measurement's Get BP Data: an earlier one would be stale.
    if (e.kind == EventKind::kBpData && askedForResult_ && !result_) {
      result_ = e.bp;
      out_.Result(e.lines, e.bp, m_.mode);
      link_.ReturnEarly();
    }
  }

  const MeasureOptions& m_;
  Link& link_;
  Output& out_;
  results::EndDetector detector_;
  std::optional<protocol::BpData> result_;
  bool askedForResult_ = false;
  bool answered_ = false;
};

int RunMeasure(const Options& o, const MeasureOptions& m, Output& out, std::FILE* err,
               const StopFlag& stop) {
  // The table goes through a temporary file renamed at the end, so an earlier table stays whole
  // on any failure; a folder that cannot take it is said before the port opens.
  if (!m.csvPath.empty()) {
    const std::filesystem::path folder = std::filesystem::path(m.csvPath).parent_path();
    if (::access(folder.empty() ? "." : folder.c_str(), W_OK) != 0) {
      return Fail(err, m.csvPath + ": " + std::strerror(errno), kExitUsage);
    }
  }
  Link link(TargetOf(o), out);
  link.ShowReceived(false);
  if (!link.Open()) return Fail(err, link.FailureLine(), kExitUsage);

  Measurement measurement(m, link, out);
  std::vector<results::MeasurementRow> rows;
  int status = kExitOk;
  bool complete = false;
  for (long i = 1; i <= m.count; ++i) {
    if (i > 1 && m.restSeconds > 0) {
      link.RunUntil(SteadyClock::now() + Seconds(m.restSeconds), stop);
      if (out.Failed()) return kExitOutput;
      // Between measurements nothing runs that needs stopping.
      if (const int sig = stop) {
        status = Fail(err, StoppedBy(sig), kExitTimeout);
        break;
      }
    }
    results::MeasurementRow row;
    const Measurement::End end = measurement.Run(i, stop, row);
    if (out.Failed()) return kExitOutput;
    if (end != Measurement::End::kResult) {
      const std::string which = "measurement " + std::to_string(i);
      if (link.Lost()) {
        status = Fail(err, link.FailureLine(), kExitUsage);
      } else {
        AbortMeasurement(link);
        status = Fail(err,
                      end == Measurement::End::kStopped ? which + " " + StoppedBy(stop)
                      : measurement.Answered()          ? which + " did not end within " +
                                                     program::FormatNumber(m.timeoutSeconds) + " s"
                                               : which + ": the module did not answer",
                      kExitTimeout);
      }
      break;
    }
    rows.push_back(row);
    const std::string which = "measurement " + std::to_string(i) + ": ";
    if (!results::IsValidResult(row.bp)) {
      status = Fail(err, which + "ended with Err " + std::to_string(row.bp.err), kExitLimits);
    }
    for (const std::string& v : Violations(m.limits, row.bp)) {
      status = Fail(err, which + v, kExitLimits);
    }
    complete = i == m.count;
  }
  if (!m.csvPath.empty() && complete) {
    std::string table = std::string(results::kCsvHeader) + "\n";
    for (const results::MeasurementRow& row : rows) table += results::CsvRow(row) + "\n";
    bool given = false;
    const std::string error = records::ReplaceFile(m.csvPath, [&](std::string& chunk) {
      if (!given) chunk = table;
      given = true;
      return false;
    });
    if (!error.empty()) status = Fail(err, m.csvPath + ": " + error, kExitUsage);
  }
  out.Text(out.Json() ? results::SummaryJson(rows) : results::SummaryText(rows));
  return out.Failed() ? kExitOutput : status;
}

int RunPorts(Output& out) {
  const std::unique_ptr<ports::DeviceSource> source = ports::MakeUdevSource();
  const ports::Snapshot s = ports::BuildSnapshot(source->Enumerate(), *source, serial::PortsDir());
  out.Text(out.Json() ? ports::RenderJson(s) : ports::RenderText(s));
  return kExitOk;
}

// map and unmap; what the port opens afterwards is printed as the console's port box tells it.
int RunMapping(const Options& o, Output& out, std::FILE* err) {
  const std::filesystem::path dir = serial::PortsDir();
  const auto* map = std::get_if<MapOptions>(&o.command);
  const std::string& name = map ? map->name : std::get<UnmapOptions>(o.command).name;
  const ports::Outcome done =
      map ? ports::MapName(dir, name, map->device, ports::MakeUdevSource()->Enumerate())
          : ports::UnmapName(dir, name);
  if (!done.ok) return Fail(err, done.error, kExitUsage);
  out.Text(ports::PortTip(dir, name));
  return kExitOk;
}

}  // namespace

int Run(const Options& o, Output& out, std::FILE* err, const StopFlag& stop) {
  if (const auto* s = std::get_if<SendOptions>(&o.command)) return RunSend(o, *s, out, err, stop);
  if (const auto* w = std::get_if<WatchOptions>(&o.command)) return RunWatch(o, *w, out, err, stop);
  if (const auto* m = std::get_if<MeasureOptions>(&o.command)) {
    return RunMeasure(o, *m, out, err, stop);
  }
  if (const auto* c = std::get_if<CheckOptions>(&o.command)) return RunCheck(o, *c, out, err, stop);
  if (std::holds_alternative<PortsOptions>(o.command)) return RunPorts(out);
  return RunMapping(o, out, err);
}

}  // namespace cli

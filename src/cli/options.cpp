#include "cli/options.h"

#include <algorithm>
#include <array>

#include "commands/command_text.h"
#include "program/numbers.h"
#include "serial/port_name.h"

namespace cli {
namespace {

constexpr std::string_view kUsageText =
    "Usage: nibp-cli [--port COMn | --device PATH] [--json] COMMAND [OPTION]... [ARGUMENT]...\n"
    "Drive a blood-pressure module on a serial port from the command line.\n"
    "\n"
    "Common options:\n"
    "  --port COMn        the port, mapped to a device as the console maps it (COM1)\n"
    "  --device PATH      the serial device itself\n"
    "  --json             JSON lines instead of text records\n"
    "  --help             display this help and exit\n"
    "  --version          output version information and exit\n"
    "\n"
    "Commands:\n"
    "  send [--listen SECONDS] CMD...\n"
    "      send each command in order, then print what comes back for SECONDS (1);\n"
    "      CMD is set-pressure=N (30..300), start-adult, start-neonate,\n"
    "      start-pediatric, abort, get-pressure, get-bp-data or\n"
    "      pneumatics=PUMP,CONTROL,DUMP (each 0 or 1)\n"
    "  watch [--duration SECONDS]\n"
    "      ask for the cuff pressure every 250 ms and print each, until the duration\n"
    "      ends or SIGINT or SIGTERM arrives\n"
    "  measure --mode adult|neonate|pediatric [--inflate N] [--count N]\n"
    "          [--rest SECONDS] [--timeout SECONDS] [--csv FILE] [--expect LIST]\n"
    "      run N measurements (1), each allowed --timeout seconds (180), with\n"
    "      --rest seconds between them (0); one CSV row each, then a summary;\n"
    "      LIST is NAME=VALUE:TOLERANCE,... with NAME sys, dia, hr or map\n"
    "  check CHECK... [--target N] [--settle S] [--hold S] [--limit X]\n"
    "          [--points N,...] [--ceiling N] [--pump-limit S] [--window -10:+20]\n"
    "          [--reference-port COMn [--reference-unit U] [--reference-baud N]]\n"
    "          [--reference A,B,...] [--report FILE.html] [--operator NAME]\n"
    "          [--module-id ID] [--reference-name NAME] [--reference-due YYYY-MM-DD]\n"
    "          [measure's --mode, --inflate, --count, --rest, --timeout, --expect]\n"
    "      run the service checks in order (leak, static, overpressure, repeat),\n"
    "      stopping at the first ABORTED; --port may be given several times, each\n"
    "      port runs the checks at the same time with its own report FILE-COMn.html;\n"
    "      the static check's reference comes from a gauge (--reference-port, unit\n"
    "      mmHg, kPa or cmH2O), from --reference (one reading per point) or is typed\n"
    "  ports\n"
    "      list the ports with the devices they open, and the serial devices found\n"
    "  map COMn DEVICE\n"
    "      make COMn open DEVICE (its /dev/serial/by-id name when it has one)\n"
    "  unmap COMn\n"
    "      remove the mapping: COMn opens /dev/ttyS(n-1) again\n"
    "\n"
    "Output: one record a line, time TAB tag TAB text, as in the console's session files\n"
    "(R raw-log line, E event-log line, S status, B bad frame, N dropped bytes).\n"
    "\n"
    "Exit status: 0 all done and within the limits (check: all PASS or INFO), 1 a\n"
    "result outside them (check: a FAIL), 2 a usage error or a port that cannot be\n"
    "opened or is lost (check: or a measurement running), 3 a measurement that did\n"
    "not end within the timeout, a stopping signal (check: an ABORTED check).\n";

// The commands an option belongs to, as bits.
enum Scope : unsigned {
  kCommon = 1,
  kSend = 2,
  kWatch = 4,
  kMeasure = 8,
  kCheck = 16,
  kPorts = 32,
  kMap = 64,
  kUnmap = 128,
};

struct OptionSpec {
  std::string_view name;
  unsigned scopes;
};

constexpr std::array<OptionSpec, 29> kOptions = {{
    {"port", kCommon},
    {"device", kCommon},
    {"listen", kSend},
    {"duration", kWatch},
    {"mode", kMeasure | kCheck},
    {"inflate", kMeasure | kCheck},
    {"count", kMeasure | kCheck},
    {"rest", kMeasure | kCheck},
    {"timeout", kMeasure | kCheck},
    {"csv", kMeasure},
    {"expect", kMeasure | kCheck},
    {"target", kCheck},
    {"settle", kCheck},
    {"hold", kCheck},
    {"limit", kCheck},
    {"points", kCheck},
    {"ceiling", kCheck},
    {"pump-limit", kCheck},
    {"window", kCheck},
    {"reference-port", kCheck},
    {"reference-unit", kCheck},
    {"reference-baud", kCheck},
    {"reference", kCheck},
    {"operator", kCheck},
    {"module-id", kCheck},
    {"reference-name", kCheck},
    {"reference-due", kCheck},
    {"report", kCheck},
    {"json", kCommon},  // the only one without a value
}};

struct CommandSpec {
  std::string_view name;
  Scope scope;
  size_t arguments;  // words after the command's name; send and check take one or more
};
constexpr std::array<CommandSpec, 7> kCommands = {{
    {"send", kSend, 0},
    {"watch", kWatch, 0},
    {"measure", kMeasure, 0},
    {"check", kCheck, 0},
    {"ports", kPorts, 0},
    {"map", kMap, 2},
    {"unmap", kUnmap, 1},
}};

constexpr double kMaxSeconds = 86400;

struct Given {
  std::string_view name;
  std::string_view value;
};

std::string Quote(std::string_view s) {
  return "\"" + std::string(s) + "\"";
}

// "a,b,c" split at the commas; an empty text is no item.
std::vector<std::string_view> SplitList(std::string_view text) {
  std::vector<std::string_view> items;
  while (!text.empty()) {
    const size_t comma = text.find(',');
    items.push_back(text.substr(0, comma));
    if (comma == std::string_view::npos) break;
    text = text.substr(comma + 1);
    if (text.empty()) items.emplace_back();
  }
  return items;
}

bool IsDate(std::string_view d) {
  if (d.size() != 10 || d[4] != '-' || d[7] != '-') return false;
  for (const size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (d[i] < '0' || d[i] > '9') return false;
  }
  const auto month = program::ParseWhole(d.substr(5, 2), 1, 12);
  const auto day = program::ParseWhole(d.substr(8, 2), 1, 31);
  return month && day;
}

// check's own options; nothing when `name` is not one of them or its value is good.
std::optional<std::string> ParseCheckOption(std::string_view name, std::string_view value,
                                            CheckOptions& c) {
  const auto notA = [&](std::string_view what) {
    return Quote(value) + " is not " + std::string(what);
  };
  const auto seconds = [&](double min, double& a, double* b) -> std::optional<std::string> {
    const auto v = program::ParseNumber(value, min, kMaxSeconds);
    if (!v)
      return notA(min > 0 ? "a number of seconds above 0, at most 86400"
                          : "a number of seconds from 0 to 86400");
    a = *v;
    if (b != nullptr) *b = *v;
    return std::nullopt;
  };
  checks::Params& p = c.params;
  if (name == "target") {
    const auto v = program::ParseWhole(value, 1, checks::kCeilingMaxMmHg);
    if (!v) return notA("a whole number of mmHg from 1 to 330");
    p.leak.targetMmHg = static_cast<int>(*v);
  } else if (name == "settle") {
    return seconds(0, p.leak.settleS, &p.statics.settleS);
  } else if (name == "hold") {
    return seconds(0.001, p.leak.holdS, nullptr);
  } else if (name == "pump-limit") {
    return seconds(0.001, p.safety.pumpLimitS, nullptr);
  } else if (name == "ceiling") {
    const auto v = program::ParseWhole(value, 1, checks::kCeilingMaxMmHg);
    if (!v) return notA("a whole number of mmHg from 1 to 330 (never above 330)");
    p.safety.ceilingMmHg = static_cast<int>(*v);
  } else if (name == "points") {
    p.statics.pointsMmHg.clear();
    for (const std::string_view item : SplitList(value)) {
      const auto v = program::ParseWhole(item, 0, checks::kCeilingMaxMmHg);
      if (!v) return notA("a list of whole numbers of mmHg from 0 to 330 (0,50,100)");
      p.statics.pointsMmHg.push_back(static_cast<int>(*v));
    }
    if (p.statics.pointsMmHg.empty()) return notA("a list of points (0,50,100)");
  } else if (name == "window") {
    // "-10:+20": how far below and above the limit the release may come.
    const size_t colon = value.find(':');
    const std::string_view below = value.substr(0, colon);
    const std::string_view above = colon == std::string_view::npos ? "" : value.substr(colon + 1);
    const auto lo = program::ParseWhole(below.starts_with('-') ? below.substr(1) : below, 0, 330);
    const auto hi = program::ParseWhole(above.starts_with('+') ? above.substr(1) : above, 0, 330);
    if (colon == std::string_view::npos || !lo || !hi || (*lo != 0 && !below.starts_with('-'))) {
      return notA("a window as -BELOW:+ABOVE in mmHg (-10:+20)");
    }
    p.overpressure.windowBelowMmHg = static_cast<int>(*lo);
    p.overpressure.windowAboveMmHg = static_cast<int>(*hi);
  } else if (name == "reference-port") {
    const auto port = serial::ParsePortName(value);
    if (!port) return notA("a port (COM1 to COM255)");
    c.referencePort = *port;
  } else if (name == "reference-unit") {
    const auto unit = checks::ParseUnit(value);
    if (!unit) return notA("mmHg, kPa or cmH2O");
    c.referenceUnit = *unit;
  } else if (name == "reference-baud") {
    const auto v = program::ParseWhole(value, 50, 4000000);
    if (!v) return notA("a baud rate (9600)");
    c.referenceBaud = static_cast<uint32_t>(*v);
  } else if (name == "reference") {
    std::vector<double> readings;
    for (const std::string_view item : SplitList(value)) {
      const auto v = program::ParseNumber(item, -1000, 1000);
      if (!v) return notA("a list of readings in mmHg (0,50.2,100.4)");
      readings.push_back(*v);
    }
    c.referenceList = std::move(readings);
  } else if (name == "reference-due") {
    if (!IsDate(value)) return notA("a date as YYYY-MM-DD");
    c.referenceDue = value;
  } else if (name == "operator") {
    c.operatorName = value;
  } else if (name == "module-id") {
    c.moduleId = value;
  } else if (name == "reference-name") {
    c.referenceName = value;
  } else if (name == "report") {
    if (value.empty()) return notA("a file name");
    c.reportPath = value;
  }
  return std::nullopt;
}

// The checks named after "check", --limit for each of them and the whole set's consistency.
std::optional<std::string> FinishCheck(const std::vector<std::string_view>& words,
                                       std::optional<std::string_view> limit,
                                       const checks::RepeatParams& series, CheckOptions& c) {
  for (size_t i = 1; i < words.size(); ++i) {
    const auto kind = checks::CheckByName(words[i]);
    if (!kind) {
      return "check: unknown check " + Quote(words[i]) + " (leak, static, overpressure or repeat)";
    }
    if (std::find(c.checks.begin(), c.checks.end(), *kind) != c.checks.end()) {
      return "check: " + Quote(words[i]) + " named twice";
    }
    c.checks.push_back(*kind);
  }
  if (c.checks.empty()) return "check: name the checks (leak, static, overpressure, repeat)";
  checks::Params& p = c.params;
  p.repeat = series;
  const auto has = [&](checks::CheckKind k) {
    return std::find(c.checks.begin(), c.checks.end(), k) != c.checks.end();
  };
  if (limit) {
    // One limit for the checks named: the leak's rate, the static's error, the overpressure's
    // release pressure.
    const std::string bad = "--limit: " + Quote(*limit) + " is not ";
    if (has(checks::CheckKind::kLeak) || has(checks::CheckKind::kStatic)) {
      const auto v = program::ParseNumber(*limit, 0, 1000);
      if (!v) return bad + "a number from 0 to 1000";
      p.leak.limitMmHgMin = *v;
      p.statics.limitMmHg = *v;
    }
    if (has(checks::CheckKind::kOverpressure)) {
      const auto v = program::ParseWhole(*limit, 1, checks::kCeilingMaxMmHg);
      if (!v) return bad + "a whole number of mmHg from 1 to 330";
      p.overpressure.limitMmHg = static_cast<int>(*v);
    }
  }
  if (c.referenceList && c.referencePort) return "give --reference or --reference-port, not both";
  if (c.referenceList && has(checks::CheckKind::kStatic) &&
      c.referenceList->size() != p.statics.pointsMmHg.size()) {
    return "--reference: " + std::to_string(c.referenceList->size()) + " readings for " +
           std::to_string(p.statics.pointsMmHg.size()) + " points";
  }
  if (auto why = checks::Validate(c.checks, p)) return "check: " + *why;
  return std::nullopt;
}

}  // namespace

std::string_view Usage() {
  return kUsageText;
}

std::variant<commands::Request, std::string> ParseSendCommand(std::string_view word) {
  for (const commands::Word& w : commands::PlainWords()) {
    if (word == w.word) return commands::Simple(w.command);
  }
  constexpr std::string_view kSet = "set-pressure=";
  if (word.starts_with(kSet)) {
    const auto n =
        program::ParseWhole(word.substr(kSet.size()), commands::kInflateMin, commands::kInflateMax);
    if (!n) return Quote(word) + ": " + std::string(commands::kInflateRefused);
    return commands::SetPressure(static_cast<uint32_t>(*n));
  }
  constexpr std::string_view kPneumatics = "pneumatics=";
  if (word.starts_with(kPneumatics)) {
    const std::string_view v = word.substr(kPneumatics.size());
    const auto bit = [&](size_t i) { return v[i] == '0' || v[i] == '1'; };
    if (v.size() != 5 || !bit(0) || v[1] != ',' || !bit(2) || v[3] != ',' || !bit(4)) {
      return Quote(word) + ": give PUMP,CONTROL,DUMP, each 0 or 1";
    }
    return commands::Pneumatics(v[0] == '1', v[2] == '1', v[4] == '1');
  }
  return "unknown command to send: " + Quote(word);
}

ParseResult ParseCommandLine(const std::vector<std::string_view>& args) {
  ParseResult result;
  for (const std::string_view a : args) {
    if (a == "--") break;
    if (a == "--help") return {std::nullopt, program::InfoRequest::kHelp, {}};
    if (a == "--version") return {std::nullopt, program::InfoRequest::kVersion, {}};
  }
  const auto fail = [&](std::string message) {
    result.error = std::move(message);
    return result;
  };

  std::vector<Given> given;
  std::vector<std::string_view> words;
  bool optionsEnd = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (optionsEnd || !a.starts_with("--")) {
      words.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnd = true;
      continue;
    }
    std::string_view name = a.substr(2);
    std::string_view value;
    const size_t eq = name.find('=');
    if (eq != std::string_view::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
    }
    const auto* option = std::find_if(kOptions.begin(), kOptions.end(),
                                      [&](const OptionSpec& o) { return o.name == name; });
    if (option == kOptions.end()) return fail("unknown option " + Quote(a));
    const bool takesValue = name != "json";
    if (!takesValue && eq != std::string_view::npos) {
      return fail("--" + std::string(name) + " takes no value");
    }
    if (takesValue && eq == std::string_view::npos) {
      if (i + 1 >= args.size()) return fail("--" + std::string(name) + " needs a value");
      value = args[++i];
    }
    // Several modules are checked at once: --port may come again (only check takes it so).
    if (name != "port" &&
        std::any_of(given.begin(), given.end(), [&](const Given& g) { return g.name == name; })) {
      return fail("--" + std::string(name) + " given twice");
    }
    given.push_back({name, value});
  }

  if (words.empty()) {
    return fail("no command given (send, watch, measure, check, ports, map or unmap)");
  }
  const auto* command = std::find_if(kCommands.begin(), kCommands.end(),
                                     [&](const CommandSpec& c) { return c.name == words[0]; });
  if (command == kCommands.end()) return fail("unknown command " + Quote(words[0]));

  Options o;
  switch (command->scope) {
    case kSend:
      o.command = SendOptions{};
      break;
    case kWatch:
      o.command = WatchOptions{};
      break;
    case kMeasure:
      o.command = MeasureOptions{};
      break;
    case kCheck:
      o.command = CheckOptions{};
      break;
    case kPorts:
      o.command = PortsOptions{};
      break;
    case kMap:
      if (words.size() != 3)
        return fail("map: give the port and the device (map COM3 /dev/ttyUSB0)");
      o.command = MapOptions{std::string(words[1]), std::string(words[2])};
      break;
    case kUnmap:
      if (words.size() != 2) return fail("unmap: give the port (unmap COM3)");
      o.command = UnmapOptions{std::string(words[1])};
      break;
    case kCommon:
      break;
  }
  auto* send = std::get_if<SendOptions>(&o.command);
  auto* watch = std::get_if<WatchOptions>(&o.command);
  auto* measure = std::get_if<MeasureOptions>(&o.command);
  auto* check = std::get_if<CheckOptions>(&o.command);
  // measure's options for a series; check takes them for its repeat.
  checks::RepeatParams series;

  bool modeGiven = false;
  std::optional<std::string_view> limitGiven;
  for (const Given& g : given) {
    const auto* option = std::find_if(kOptions.begin(), kOptions.end(),
                                      [&](const OptionSpec& s) { return s.name == g.name; });
    const std::string opt = "--" + std::string(g.name);
    if ((option->scopes & (kCommon | command->scope)) == 0) {
      return fail(opt + " is not an option of " + std::string(command->name));
    }
    const auto seconds = [&](double min) {
      return program::ParseNumber(g.value, min, kMaxSeconds);
    };
    const auto badValue = [&](std::string_view what) {
      return fail(opt + ": " + Quote(g.value) + " is not " + std::string(what));
    };
    if (g.name == "port") {
      const auto port = serial::ParsePortName(g.value);
      if (!port) return badValue("a port (COM1 to COM255)");
      if (std::find(o.ports.begin(), o.ports.end(), *port) != o.ports.end()) {
        return fail(opt + " " + std::string(g.value) + " given twice");
      }
      o.port = *port;
      o.ports.push_back(*port);
    } else if (g.name == "device") {
      if (g.value.empty()) return badValue("a device path");
      o.device = g.value;
    } else if (g.name == "json") {
      o.json = true;
    } else if (g.name == "listen") {
      const auto v = seconds(0);
      if (!v) return badValue("a number of seconds from 0 to 86400");
      send->listenSeconds = *v;
    } else if (g.name == "duration") {
      const auto v = seconds(0);
      if (!v) return badValue("a number of seconds from 0 to 86400");
      watch->durationSeconds = *v;
    } else if (g.name == "mode") {
      constexpr std::array kModes = {Mode::kAdult, Mode::kNeonate, Mode::kPediatric};
      const auto* m = std::find_if(kModes.begin(), kModes.end(),
                                   [&](Mode mode) { return commands::ModeName(mode) == g.value; });
      if (m == kModes.end()) return badValue("adult, neonate or pediatric");
      series.mode = *m;
      modeGiven = true;
    } else if (g.name == "inflate") {
      const auto v = program::ParseWhole(g.value, commands::kInflateMin, commands::kInflateMax);
      if (!v)
        return fail(opt + ": " + Quote(g.value) + ": " + std::string(commands::kInflateRefused));
      series.inflate = static_cast<uint32_t>(*v);
    } else if (g.name == "count") {
      const auto v = program::ParseWhole(g.value, 1, 1000000);
      if (!v) return badValue("a whole number from 1 to 1000000");
      series.count = *v;
    } else if (g.name == "rest") {
      const auto v = seconds(0);
      if (!v) return badValue("a number of seconds from 0 to 86400");
      series.restS = *v;
    } else if (g.name == "timeout") {
      const auto v = seconds(0.001);
      if (!v) return badValue("a number of seconds above 0, at most 86400");
      series.timeoutS = *v;
    } else if (g.name == "csv") {
      if (g.value.empty()) return badValue("a file name");
      measure->csvPath = g.value;
    } else if (g.name == "expect") {
      results::ExpectParse e = results::ParseExpect(g.value);
      if (!e.limits) return fail(std::move(e.error));
      series.limits = *e.limits;
    } else if (auto error = ParseCheckOption(g.name, g.value, *check)) {
      return fail(opt + ": " + *error);
    } else if (g.name == "limit") {
      limitGiven = g.value;
    }
  }
  const bool portGiven =
      std::any_of(given.begin(), given.end(), [](const Given& g) { return g.name == "port"; });
  if (portGiven && !o.device.empty()) return fail("give --port or --device, not both");

  if (send != nullptr) {
    if (words.size() < 2) return fail("send: no command to send");
    for (size_t i = 1; i < words.size(); ++i) {
      auto c = ParseSendCommand(words[i]);
      if (auto* error = std::get_if<std::string>(&c)) return fail("send: " + *error);
      send->commands.push_back(std::get<commands::Request>(c));
    }
  } else if (check == nullptr && words.size() > command->arguments + 1) {
    return fail(std::string(command->name) + ": unexpected argument " + Quote(words[1]));
  }
  if (measure != nullptr) {
    if (!modeGiven) return fail("measure: --mode adult, neonate or pediatric is needed");
    measure->mode = series.mode;
    measure->inflate = series.inflate;
    measure->count = series.count;
    measure->restSeconds = series.restS;
    measure->timeoutSeconds = series.timeoutS;
    measure->limits = series.limits;
  }
  if (o.ports.size() > 1 && command->scope != kCheck) {
    return fail("--port given twice (only check takes several ports)");
  }
  if (check != nullptr) {
    if (auto error = FinishCheck(words, limitGiven, series, *check)) return fail(*error);
    const bool typed = !check->referencePort && !check->referenceList &&
                       std::find(check->checks.begin(), check->checks.end(),
                                 checks::CheckKind::kStatic) != check->checks.end();
    if (typed && o.ports.size() > 1) {
      return fail("check: with several ports give the reference (--reference-port or --reference)");
    }
    if (o.ports.size() > 1 && !o.device.empty()) return fail("give --port or --device, not both");
  }
  result.options = std::move(o);
  return result;
}

}  // namespace cli

#include "cli/options.h"

#include <algorithm>
#include <array>

#include "cli/numbers.h"
#include "commands/command_text.h"
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
    "Exit status: 0 all done and within the limits, 1 a result outside them,\n"
    "2 a usage error or a port that cannot be opened or is lost, 3 a measurement that\n"
    "did not end within the timeout.\n";

enum class Scope { kCommon, kSend, kWatch, kMeasure, kPorts, kMap, kUnmap };

struct OptionSpec {
  std::string_view name;
  Scope scope;
};

constexpr std::array<OptionSpec, 12> kOptions = {{
    {"port", Scope::kCommon},
    {"device", Scope::kCommon},
    {"listen", Scope::kSend},
    {"duration", Scope::kWatch},
    {"mode", Scope::kMeasure},
    {"inflate", Scope::kMeasure},
    {"count", Scope::kMeasure},
    {"rest", Scope::kMeasure},
    {"timeout", Scope::kMeasure},
    {"csv", Scope::kMeasure},
    {"expect", Scope::kMeasure},
    {"json", Scope::kCommon},  // the only one without a value
}};

struct CommandSpec {
  std::string_view name;
  Scope scope;
  size_t arguments;  // words after the command's name; send takes one or more
};
constexpr std::array<CommandSpec, 6> kCommands = {{
    {"send", Scope::kSend, 0},
    {"watch", Scope::kWatch, 0},
    {"measure", Scope::kMeasure, 0},
    {"ports", Scope::kPorts, 0},
    {"map", Scope::kMap, 2},
    {"unmap", Scope::kUnmap, 1},
}};

constexpr double kMaxSeconds = 86400;

struct Given {
  std::string_view name;
  std::string_view value;
};

std::string Quote(std::string_view s) {
  return "\"" + std::string(s) + "\"";
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
        ParseWhole(word.substr(kSet.size()), commands::kInflateMin, commands::kInflateMax);
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
    if (std::any_of(given.begin(), given.end(), [&](const Given& g) { return g.name == name; })) {
      return fail("--" + std::string(name) + " given twice");
    }
    given.push_back({name, value});
  }

  if (words.empty()) return fail("no command given (send, watch, measure, ports, map or unmap)");
  const auto* command = std::find_if(kCommands.begin(), kCommands.end(),
                                     [&](const CommandSpec& c) { return c.name == words[0]; });
  if (command == kCommands.end()) return fail("unknown command " + Quote(words[0]));

  Options o;
  switch (command->scope) {
    case Scope::kSend:
      o.command = SendOptions{};
      break;
    case Scope::kWatch:
      o.command = WatchOptions{};
      break;
    case Scope::kMeasure:
      o.command = MeasureOptions{};
      break;
    case Scope::kPorts:
      o.command = PortsOptions{};
      break;
    case Scope::kMap:
      if (words.size() != 3)
        return fail("map: give the port and the device (map COM3 /dev/ttyUSB0)");
      o.command = MapOptions{std::string(words[1]), std::string(words[2])};
      break;
    case Scope::kUnmap:
      if (words.size() != 2) return fail("unmap: give the port (unmap COM3)");
      o.command = UnmapOptions{std::string(words[1])};
      break;
    case Scope::kCommon:
      break;
  }
  auto* send = std::get_if<SendOptions>(&o.command);
  auto* watch = std::get_if<WatchOptions>(&o.command);
  auto* measure = std::get_if<MeasureOptions>(&o.command);

  bool modeGiven = false;
  for (const Given& g : given) {
    const auto* option = std::find_if(kOptions.begin(), kOptions.end(),
                                      [&](const OptionSpec& s) { return s.name == g.name; });
    const std::string opt = "--" + std::string(g.name);
    if (option->scope != Scope::kCommon && option->scope != command->scope) {
      return fail(opt + " is not an option of " + std::string(command->name));
    }
    const auto seconds = [&](double min) { return ParseNumber(g.value, min, kMaxSeconds); };
    const auto badValue = [&](std::string_view what) {
      return fail(opt + ": " + Quote(g.value) + " is not " + std::string(what));
    };
    if (g.name == "port") {
      const auto port = serial::ParsePortName(g.value);
      if (!port) return badValue("a port (COM1 to COM255)");
      o.port = *port;
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
      measure->mode = *m;
      modeGiven = true;
    } else if (g.name == "inflate") {
      const auto v = ParseWhole(g.value, commands::kInflateMin, commands::kInflateMax);
      if (!v)
        return fail(opt + ": " + Quote(g.value) + ": " + std::string(commands::kInflateRefused));
      measure->inflate = static_cast<uint32_t>(*v);
    } else if (g.name == "count") {
      const auto v = ParseWhole(g.value, 1, 1000000);
      if (!v) return badValue("a whole number from 1 to 1000000");
      measure->count = *v;
    } else if (g.name == "rest") {
      const auto v = seconds(0);
      if (!v) return badValue("a number of seconds from 0 to 86400");
      measure->restSeconds = *v;
    } else if (g.name == "timeout") {
      const auto v = seconds(0.001);
      if (!v) return badValue("a number of seconds above 0, at most 86400");
      measure->timeoutSeconds = *v;
    } else if (g.name == "csv") {
      if (g.value.empty()) return badValue("a file name");
      measure->csvPath = g.value;
    } else if (g.name == "expect") {
      ExpectParse e = ParseExpect(g.value);
      if (!e.limits) return fail(std::move(e.error));
      measure->limits = *e.limits;
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
  } else if (words.size() > command->arguments + 1) {
    return fail(std::string(command->name) + ": unexpected argument " + Quote(words[1]));
  }
  if (measure != nullptr && !modeGiven) {
    return fail("measure: --mode adult, neonate or pediatric is needed");
  }
  result.options = std::move(o);
  return result;
}

}  // namespace cli

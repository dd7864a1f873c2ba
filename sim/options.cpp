#include "sim/options.h"

#include <getopt.h>

#include <cstdio>
#include <string_view>
#include <vector>

#include "program/numbers.h"
#include "program/program_info.h"
#include "serial/port_name.h"

namespace sim {
namespace {

bool Real(std::string_view text, double min, double max, double& out) {
  const auto v = program::ParseNumber(text, min, max);
  if (v) out = *v;
  return v.has_value();
}

bool Whole(std::string_view text, long min, long max, int& out) {
  const auto v = program::ParseWhole(text, min, max);
  if (v) out = static_cast<int>(*v);
  return v.has_value();
}

bool Count(std::string_view text, uint64_t min, uint64_t max, uint64_t& out) {
  const auto v = program::ParseCount(text, min, max);
  if (v) out = *v;
  return v.has_value();
}

// Takes the option's value (empty for a switch) into the options: nullptr, or what was wrong
// with it as the error names it ("speed (0.01..10000)").
using Apply = const char* (*)(Options& o, std::string_view value);

struct Row {
  const char* name;
  const char* value;  // the value's name in the help; nullptr for a switch
  const char* help;   // a '\n' starts a further line of it
  Apply apply;        // nullptr for --help and --version
};

// One row per option, in the order --help lists them: a new option is a new row.
constexpr Row kRows[] = {
    {"port", "COMn", "port name (COM1)",
     [](Options& o, std::string_view v) -> const char* {
       const auto port = serial::ParsePortName(v);
       if (!port) return "port (COM1 to COM255)";
       o.port = "COM" + std::to_string(*port);
       return nullptr;
     }},
    {"force", nullptr,
     "replace a link of COMn to something that is not a\n"
     "pseudo-terminal, and put it back at the end",
     [](Options& o, std::string_view) -> const char* {
       o.force = true;
       return nullptr;
     }},
    {"systolic", "N", "the patient's systolic pressure, mmHg (120)",
     [](Options& o, std::string_view v) {
       return Whole(v, 1, 400, o.patient.systolic) ? nullptr : "systolic (1..400)";
     }},
    {"diastolic", "N", "diastolic pressure, mmHg (80)",
     [](Options& o, std::string_view v) {
       return Whole(v, 1, 400, o.patient.diastolic) ? nullptr : "diastolic (1..400)";
     }},
    {"heart-rate", "N", "heart rate, beats per minute (72)",
     [](Options& o, std::string_view v) {
       return Whole(v, 20, 300, o.patient.heartRate) ? nullptr : "heart rate (20..300)";
     }},
    {"speed", "X", "module time runs X times faster (1)",
     [](Options& o, std::string_view v) {
       return Real(v, 0.01, 10000, o.speed) ? nullptr : "speed (0.01..10000)";
     }},
    {"fragment", nullptr, "split replies into fragments with short pauses",
     [](Options& o, std::string_view) -> const char* {
       o.faults.fragment = true;
       return nullptr;
     }},
    {"noise", "RATE", "chance per reply of noise bytes before it (0..1)",
     [](Options& o, std::string_view v) {
       return Real(v, 0, 1, o.faults.noise) ? nullptr : "noise rate (0..1)";
     }},
    {"corrupt", "RATE", "chance per reply of a wrong checksum (0..1)",
     [](Options& o, std::string_view v) {
       return Real(v, 0, 1, o.faults.corrupt) ? nullptr : "corrupt rate (0..1)";
     }},
    {"stream", "HZ", "send the cuff pressure HZ times a second unasked",
     [](Options& o, std::string_view v) {
       return Real(v, 0, 1000, o.streamHz) ? nullptr : "stream rate (0..1000 Hz)";
     }},
    {"burst", "N",
     "after the console's first command, send N cuff pressure\n"
     "frames as fast as the line takes them",
     [](Options& o, std::string_view v) {
       return Count(v, 1, 100'000'000, o.burst) ? nullptr : "burst (1..100000000)";
     }},
    {"numbered", nullptr,
     "stream and burst frames count 0, 1, 2... instead of\n"
     "reporting the cuff pressure",
     [](Options& o, std::string_view) -> const char* {
       o.numbered = true;
       return nullptr;
     }},
    {"hangup-after", "SECS", "close the line after SECS and exit",
     [](Options& o, std::string_view v) {
       return Real(v, 0.001, 1e6, o.hangupAfter) ? nullptr : "hang-up time";
     }},
    {"reopen", nullptr, "with --hangup-after: open a new line instead of exiting",
     [](Options& o, std::string_view) -> const char* {
       o.reopen = true;
       return nullptr;
     }},
    {"hangup-every", "SECS", "close the line every SECS and open a new one each time",
     [](Options& o, std::string_view v) -> const char* {
       if (!Real(v, 0.001, 1e6, o.hangupAfter)) return "hang-up period";
       o.reopen = o.hangupAgain = true;
       return nullptr;
     }},
    {"seed", "N", "seed of the fault injection",
     [](Options& o, std::string_view v) -> const char* {
       if (!Count(v, 0, UINT64_MAX, o.seed)) return "seed";
       o.seedGiven = true;
       return nullptr;
     }},
    {"leak", "R",
     "with the valves closed the cuff loses R mmHg a minute at\n"
     "250 mmHg, in proportion to the pressure (0)",
     [](Options& o, std::string_view v) {
       return Real(v, 0, 1000, o.checks.cuff.leakMmHgMin) ? nullptr : "leak (0..1000 mmHg/min)";
     }},
    {"sensor-offset", "MMHG", "the module reports the true pressure plus MMHG (0)",
     [](Options& o, std::string_view v) {
       return Real(v, -100, 100, o.checks.cuff.sensorOffset) ? nullptr
                                                             : "sensor offset (-100..100 mmHg)";
     }},
    {"sensor-gain", "G", "...times G (1)",
     [](Options& o, std::string_view v) {
       return Real(v, 0.5, 2, o.checks.cuff.sensorGain) ? nullptr : "sensor gain (0.5..2)";
     }},
    {"overpressure", "N",
     "the module dumps the cuff by itself above N mmHg (310);\n"
     "0: no such protection, the pump stalls at 360 mmHg",
     [](Options& o, std::string_view v) -> const char* {
       int n = 0;
       if (!Whole(v, 0, 350, n) || (n > 0 && n < 50)) return "overpressure (0, or 50..350 mmHg)";
       o.checks.cuff.overpressure = n;
       return nullptr;
     }},
    {"gauge", "COMn",
     "play a reference gauge on a second line linked as COMn:\n"
     "the true cuff pressure as \"123.4 mmHg\" lines, four a second",
     [](Options& o, std::string_view v) -> const char* {
       const auto port = serial::ParsePortName(v);
       if (!port) return "gauge port (COM1 to COM255)";
       o.checks.gaugePort = "COM" + std::to_string(*port);
       return nullptr;
     }},
    {"log-sent", "FILE", "append every good frame sent, in hex, one per line",
     [](Options& o, std::string_view v) -> const char* {
       o.logSent = v;
       return nullptr;
     }},
    {"log-sent-times", "FILE", "the same, each line led by CLOCK_MONOTONIC nanoseconds",
     [](Options& o, std::string_view v) -> const char* {
       o.logSentTimes = v;
       return nullptr;
     }},
    {"replay", "FILE",
     "play what the module sent in a session file or a saved\n"
     "raw log, from the console's first command on",
     [](Options& o, std::string_view v) -> const char* {
       o.replay = v;
       return nullptr;
     }},
    {"loop", nullptr, "with --replay: play it again and again",
     [](Options& o, std::string_view) -> const char* {
       o.loop = true;
       return nullptr;
     }},
    {"quiet", nullptr, "print nothing but errors",
     [](Options& o, std::string_view) -> const char* {
       o.quiet = true;
       return nullptr;
     }},
    {"help", nullptr, "display this help and exit", nullptr},
    {"version", nullptr, "output version information and exit", nullptr},
};

constexpr size_t kHelpColumn = 24;

std::string Usage() {
  std::string out =
      "Usage: nibp-sim [OPTION]...\n"
      "Plays the blood-pressure module on a pseudo-terminal linked as\n"
      "$XDG_CONFIG_HOME/quirab_nibp/ports/COMn.\n"
      "\n";
  for (const Row& r : kRows) {
    std::string line = std::string("  --") + r.name;
    if (r.value != nullptr) line += std::string(" ") + r.value;
    line.resize(std::max(line.size() + 1, kHelpColumn), ' ');
    for (const char* c = r.help; *c != '\0'; ++c) {
      line += *c;
      if (*c == '\n') line.append(kHelpColumn, ' ');
    }
    out += line + '\n';
  }
  out +=
      "\n"
      "Exit status: 0 when stopped by a signal or after --hangup-after, 1 when the line\n"
      "fails, 2 for a usage error or a port that is mapped to something else.\n";
  return out;
}

// What no single option can tell: combinations that make no sense.
const char* Conflict(const Options& o) {
  if (o.patient.diastolic >= o.patient.systolic)
    return "the diastolic pressure must lie below the systolic";
  if (o.reopen && o.hangupAfter == 0) return "--reopen needs --hangup-after";
  if (o.loop && o.replay.empty()) return "--loop needs --replay";
  if (!o.replay.empty() && (o.streamHz > 0 || o.burst > 0 || o.faults.fragment ||
                            o.faults.noise > 0 || o.faults.corrupt > 0))
    return "--replay plays the file as it is: no --stream, --burst, --fragment, --noise or "
           "--corrupt";
  return nullptr;
}

}  // namespace

std::optional<Options> ParseOptions(int argc, char** argv, int& exitCode) {
  exitCode = 2;
  constexpr int kFirst = 256;  // above every short option's character
  std::vector<option> longs;
  for (const Row& r : kRows) {
    longs.push_back({r.name, r.value != nullptr ? required_argument : no_argument, nullptr,
                     kFirst + static_cast<int>(&r - kRows)});
  }
  longs.push_back({nullptr, 0, nullptr, 0});
  Options o;
  optind = 1;
  for (int c; (c = getopt_long(argc, argv, "", longs.data(), nullptr)) != -1;) {
    if (c < kFirst) {
      std::fputs(Usage().c_str(), stderr);
      return std::nullopt;
    }
    const Row& r = kRows[c - kFirst];
    if (r.apply == nullptr) {
      const auto request = std::string_view(r.name) == "help" ? program::InfoRequest::kHelp
                                                              : program::InfoRequest::kVersion;
      exitCode = program::PrintInfo(request, "nibp-sim", Usage());
      return std::nullopt;
    }
    if (const char* what = r.apply(o, optarg != nullptr ? optarg : "")) {
      std::fprintf(stderr, "nibp-sim: bad %s: %s (see --help)\n", what, optarg);
      return std::nullopt;
    }
  }
  if (optind < argc) {
    std::fprintf(stderr, "nibp-sim: bad argument: %s (see --help)\n", argv[optind]);
    return std::nullopt;
  }
  if (const char* conflict = Conflict(o)) {
    std::fprintf(stderr, "nibp-sim: %s\n", conflict);
    return std::nullopt;
  }
  return o;
}

}  // namespace sim

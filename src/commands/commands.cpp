#include "commands/commands.h"

#include "commands/command_text.h"

namespace commands {

size_t BuildFrame(const Request& r, protocol::TxBuf& tx) {
  switch (r.command) {
    case Command::kSetPressure:
      return protocol::BuildSetPressure(tx, r.inflate);
    case Command::kStartAdult:
      return protocol::BuildStartAdult(tx);
    case Command::kStartNeonate:
      return protocol::BuildStartNeonate(tx);
    case Command::kStartPediatric:
      return protocol::BuildStartPediatric(tx);
    case Command::kAbortBp:
      return protocol::BuildAbortBp(tx);
    case Command::kGetPressure:
      return protocol::BuildGetPressure(tx);
    case Command::kGetBpData:
      return protocol::BuildGetBpData(tx);
    case Command::kPump:
    case Command::kControlValve:
    case Command::kDumpValve:
    case Command::kPneumatics:
      return protocol::BuildPneumatics(tx, r.pump, r.controlClosed, r.dumpClosed);
  }
  return 0;
}

std::vector<std::string> EventLines(const Request& r) {
  switch (r.command) {
    case Command::kSetPressure:
      return {SetPressureText(r.inflate)};
    case Command::kStartAdult:
      return {std::string(kStartAdult)};
    case Command::kStartNeonate:
      return {std::string(kStartNeonate)};
    case Command::kStartPediatric:
      return {std::string(kStartPediatric)};
    case Command::kAbortBp:
      return {std::string(kAbortBp)};
    case Command::kGetPressure:
      return {std::string(kGetPressure)};
    case Command::kGetBpData:
      return {std::string(kGetBpData)};
    case Command::kPump:
      return {std::string(PumpText(r.pump))};
    case Command::kControlValve:
      return {std::string(ControlValveText(r.controlClosed))};
    case Command::kDumpValve:
      return {std::string(DumpValveText(r.dumpClosed))};
    case Command::kPneumatics:
      return {std::string(PumpText(r.pump)), std::string(ControlValveText(r.controlClosed)),
              std::string(DumpValveText(r.dumpClosed))};
  }
  return {};
}

std::optional<std::string> MarkerLabel(const Request& r) {
  // The event line without its dashes, as the chart has always labelled it.
  const auto bare = [](std::string_view line) {
    return std::string(line.substr(3, line.size() - 6));
  };
  switch (r.command) {
    case Command::kSetPressure:
      return "Set " + std::to_string(r.inflate);
    case Command::kGetPressure:
    case Command::kGetBpData:
      return std::nullopt;
    case Command::kPneumatics:
      return std::string("Pneumatics ") + (r.pump ? '1' : '0') + ',' +
             (r.controlClosed ? '1' : '0') + ',' + (r.dumpClosed ? '1' : '0');
    default:
      return bare(EventLines(r).front());
  }
}

std::optional<Mode> StartMode(Command c) {
  switch (c) {
    case Command::kStartAdult:
      return Mode::kAdult;
    case Command::kStartNeonate:
      return Mode::kNeonate;
    case Command::kStartPediatric:
      return Mode::kPediatric;
    default:
      return std::nullopt;
  }
}

Command StartCommand(Mode mode) {
  switch (mode) {
    case Mode::kNeonate:
      return Command::kStartNeonate;
    case Mode::kPediatric:
      return Command::kStartPediatric;
    case Mode::kAdult:
      break;
  }
  return Command::kStartAdult;
}

std::string_view ModeName(Mode mode) {
  switch (mode) {
    case Mode::kNeonate:
      return "neonate";
    case Mode::kPediatric:
      return "pediatric";
    case Mode::kAdult:
      break;
  }
  return "adult";
}

const std::vector<Word>& PlainWords() {
  static const std::vector<Word> kWords = {
      {"start-adult", Command::kStartAdult},         {"start-neonate", Command::kStartNeonate},
      {"start-pediatric", Command::kStartPediatric}, {"abort", Command::kAbortBp},
      {"get-pressure", Command::kGetPressure},       {"get-bp-data", Command::kGetBpData},
  };
  return kWords;
}

}  // namespace commands

// nibp-cli as a program against the simulated module on a pty: what it prints, writes and
// exits with.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "records/record_format.h"
#include "support/sim_process.h"

namespace {

using namespace std::chrono_literals;
using testsupport::ReadLines;
using testsupport::SimProcess;
using testsupport::TempConfigHome;

// The tag and text of each record line, without its time; other lines as they are.
std::vector<std::string> Untimed(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const auto& l : lines) {
    const size_t tab = l.find('\t');
    out.push_back(tab == std::string::npos ? l : l.substr(tab + 1));
  }
  return out;
}

class CliProcess {
 public:
  CliProcess(const std::string& dir, std::vector<std::string> args)
      : out_(dir + "/cli.out"), err_(dir + "/cli.err") {
    args.insert(args.begin(), NIBP_CLI_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, NIBP_CLI_PATH, &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
  }
  ~CliProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      (void)Wait();
    }
  }
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  // The exit status, or -1 when it did not exit normally.
  int Wait() {
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void Signal(int sig) const { kill(pid_, sig); }
  [[nodiscard]] std::vector<std::string> Out() const { return ReadLines(out_); }
  [[nodiscard]] std::vector<std::string> Err() const { return ReadLines(err_); }
  // Waits until stdout holds `n` lines that contain `text`.
  [[nodiscard]] bool WaitForOut(const std::string& text, size_t n, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      const auto lines = Out();
      if (static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const auto& l) {
            return l.find(text) != std::string::npos;
          })) >= n) {
        return true;
      }
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }

 private:
  std::string out_;
  std::string err_;
  pid_t pid_ = -1;
};

struct CliEndToEnd : ::testing::Test {
  TempConfigHome home;
  std::unique_ptr<SimProcess> sim;

  // With `log`, the simulator's own lines (each command it received) go to that file.
  void StartSim(std::vector<std::string> extra, const std::string& log = "") {
    std::vector<std::string> args = {"--port", "COM1", "--seed", "7"};
    if (log.empty()) args.emplace_back("--quiet");
    args.insert(args.end(), extra.begin(), extra.end());
    if (log.empty()) {
      sim = std::make_unique<SimProcess>(NIBP_SIM_PATH, args);
    } else {
      args.insert(args.begin(), {"-c", "exec \"$0\" \"$@\" > '" + log + "'", NIBP_SIM_PATH});
      sim = std::make_unique<SimProcess>("/bin/sh", args);
    }
    ASSERT_TRUE(sim->Running());
    ASSERT_TRUE(SimProcess::WaitForPath(home.PortLink("COM1"), 10s));
  }
  CliProcess Cli(std::vector<std::string> args) { return CliProcess(home.Dir(), std::move(args)); }
  void TearDown() override {
    if (sim) {
      EXPECT_EQ(sim->Stop(), 0) << "the simulator ended with an error";
    }
  }
};

TEST_F(CliEndToEnd, MeasureThreeTimesWithinTheLimits) {
  StartSim({"--speed", "50", "--systolic", "130", "--diastolic", "85", "--heart-rate", "66"});
  const std::string csv = home.Dir() + "/run.csv";
  CliProcess cli =
      Cli({"--port", "COM1", "measure", "--mode", "adult", "--inflate", "180", "--count", "3",
           "--csv", csv, "--expect", "sys=130:2,dia=85:2,hr=66:2,map=100:2", "--timeout", "30"});
  ASSERT_EQ(cli.Wait(), 0) << ::testing::PrintToString(cli.Err());
  EXPECT_TRUE(cli.Err().empty());

  const auto rows = ReadLines(csv);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0],
            "index,start,duration_s,peak_mmHg,systolic,diastolic,heart_rate,map,sq,err,status,tc,"
            "mode");
  for (size_t i = 1; i < rows.size(); ++i) {
    std::vector<std::string> f;
    std::istringstream in(rows[i]);
    for (std::string field; std::getline(in, field, ',');) f.push_back(field);
    ASSERT_EQ(f.size(), 13u) << rows[i];
    EXPECT_EQ(f[0], std::to_string(i));
    // Polled every 250 ms at 50 times the module's speed: the top is seldom caught.
    EXPECT_GT(std::stoi(f[3]), 20);
    EXPECT_LE(std::stoi(f[3]), 300);
    EXPECT_EQ((std::vector<std::string>(f.begin() + 4, f.begin() + 8)),
              (std::vector<std::string>{"130", "85", "66", "100"}));
    EXPECT_EQ(f[9], "0");
    EXPECT_EQ(f[10], "128");
    EXPECT_EQ(f[12], "adult");
  }

  const auto out = Untimed(cli.Out());
  EXPECT_EQ(out.back(),
            "n=3   Systolic: mean 130.0, SD 0.0, min 130.0, max 130.0   Diastolic: mean 85.0, SD "
            "0.0, min 85.0, max 85.0   Heart rate: mean 66.0, SD 0.0, min 66.0, max 66.0   MAP: "
            "mean 100.0, SD 0.0, min 100.0, max 100.0");
  EXPECT_EQ(std::count(out.begin(), out.end(), "E\t-- Set Initial Inflate to 180 --"), 3);
  EXPECT_EQ(std::count(out.begin(), out.end(), "E\t-- Start Adult BP --"), 3);
  EXPECT_EQ(std::count(out.begin(), out.end(), "E\tBP Data: 130 / 85 mmHg Heart: 66  MAP: 100"), 3);
}

TEST_F(CliEndToEnd, ExitStatusesOfLimitsPortsAndTimeouts) {
  // A cuff that stays up: the module's side replayed from a session of pressures at 150 mmHg.
  const std::string stuck = home.Dir() + "/stuck.session";
  {
    std::ofstream f(stuck);
    for (int i = 0; i < 10; ++i) {
      f << records::FormatRecord(1796635801000 + i * 100, records::Tag::kRaw,
                                 "PC <-- MODULE <3E><05><96><00><27>")
        << '\n';
    }
  }
  struct Case {
    const char* name;
    std::vector<std::string> sim;  // none: no simulator
    std::vector<std::string> cli;
    int status;
    std::string err;
  };
  const std::vector<Case> cases = {
      {"a result outside the limits",
       {"--speed", "50", "--systolic", "130"},
       {"--port", "COM1", "measure", "--mode", "adult", "--expect", "sys=120:5,dia=80:5"},
       1,
       "nibp-cli: measurement 1: systolic 130 outside 120:5"},
      {"an unmapped port",
       {},
       {"--port", "COM200", "measure", "--mode", "adult"},
       2,
       "nibp-cli: COM200: /dev/ttyS199: No such file or directory"},
      {"a device that does not exist",
       {},
       {"--device", "/dev/nibp-none", "send", "abort"},
       2,
       "nibp-cli: /dev/nibp-none: No such file or directory"},
      {"a refused value",
       {},
       {"--port", "COM1", "send", "set-pressure=400"},
       2,
       "nibp-cli: send: \"set-pressure=400\": Enter a pressure from 30 to 300 mmHg. (see --help)"},
      {"a measurement that never ends",
       {"--replay", stuck, "--loop"},
       {"--port", "COM1", "measure", "--mode", "adult", "--timeout", "1.5"},
       3,
       "nibp-cli: measurement 1 did not end within 1.5 s"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.sim.empty()) StartSim(c.sim);
    CliProcess cli = Cli(c.cli);
    EXPECT_EQ(cli.Wait(), c.status);
    EXPECT_EQ(cli.Err(), std::vector<std::string>{c.err});
    if (sim) {
      EXPECT_EQ(sim->Stop(), 0);
    }
    sim.reset();
  }
}

// The mapping as `nibp-cli map` and `unmap` leave it, and what `ports` then lists.
TEST_F(CliEndToEnd, MapUnmapAndPorts) {
  namespace fs = std::filesystem;
  const std::string link = home.PortLink("COM3");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;     // stdout, or stderr when the status is not 0
    std::string target;  // what COM3 links to afterwards; empty: no link
  };
  const std::vector<Case> cases = {
      {{"map", "com3", "/dev/null"}, 0, "COM3 opens /dev/null", "/dev/null"},
      {{"map", "COM3", "/dev/zero"}, 0, "COM3 opens /dev/zero", "/dev/zero"},
      {{"map", "COM0", "/dev/null"},
       2,
       "nibp-cli: \"COM0\" is no port name: COM1 to COM255",
       "/dev/zero"},
      {{"unmap", "COM3"}, 0, "COM3 opens /dev/ttyS2, not present now", ""},
      {{"unmap", "COM3"}, 0, "COM3 opens /dev/ttyS2, not present now", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    CliProcess cli = Cli(c.args);
    EXPECT_EQ(cli.Wait(), c.status);
    EXPECT_EQ(c.status == 0 ? cli.Out() : cli.Err(), std::vector<std::string>{c.out});
    std::error_code ec;
    EXPECT_EQ(fs::read_symlink(link, ec).string(), c.target);
  }
  ASSERT_EQ(Cli({"map", "COM12", "/dev/null"}).Wait(), 0);
  CliProcess list = Cli({"ports"});
  EXPECT_EQ(list.Wait(), 0);
  const auto lines = list.Out();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
    return l.starts_with("COM12") && l.find("/dev/null") != std::string::npos;
  })) << ::testing::PrintToString(lines);
}

TEST_F(CliEndToEnd, SendPrintsTheConsolesLines) {
  StartSim({});
  CliProcess cli = Cli({"--port", "COM1", "send", "set-pressure=180", "get-pressure",
                        "pneumatics=0,1,1", "--listen", "0.5"});
  ASSERT_EQ(cli.Wait(), 0);
  EXPECT_EQ(Untimed(cli.Out()), (std::vector<std::string>{
                                    "S\tCOM1 OPEN",
                                    "R\tPC --> MODULE <3A><17><B4><00><FB>",
                                    "E\t-- Set Initial Inflate to 180 --",
                                    "R\tPC --> MODULE <3A><79><05><00><48>",
                                    "E\t-- Get Pressure --",
                                    "R\tPC --> MODULE <3A><0C><00><01><01><B8>",
                                    "E\t-- Stop Pump --",
                                    "E\t-- Closed Control Valve --",
                                    "E\t-- Closed Dump Valve --",
                                    "R\tPC <-- MODULE <3E><04><4B><73>",
                                    "E\tReply: K",
                                    "R\tPC <-- MODULE <3E><05><00><00><BD>",
                                    "E\tCuff pressure: 0",
                                    "R\tPC <-- MODULE <3E><04><4B><73>",
                                    "E\tReply: K",
                                }));
}

// A signal at any point ends the run with status 3 and its name, after Abort BP when a
// measurement may be running; an earlier table stays whole unless the run completes.
TEST_F(CliEndToEnd, SignalsAndFailuresLeaveTheCuffEmptyAndTheOldTableWhole) {
  const std::string csv = home.Dir() + "/keep.csv";
  struct Case {
    const char* name;
    std::vector<std::string> cli;
    int signal;  // sent once the text below is out; 0: none
    const char* waitFor;
    int status;
    std::string err;
    bool aborts;
  };
  const std::vector<Case> cases = {
      {"SIGHUP mid-measurement",
       {"--port", "COM1", "measure", "--mode", "adult", "--csv", csv},
       SIGHUP,
       "-- Start Adult BP --",
       3,
       "nibp-cli: measurement 1 stopped by SIGHUP",
       true},
      {"SIGINT while resting",
       {"--port", "COM1", "measure", "--mode", "adult", "--count", "2", "--rest", "60", "--csv",
        csv},
       SIGINT,
       "BP Data:",
       3,
       "nibp-cli: stopped by SIGINT",
       false},
      {"SIGTERM while a sent start may run",
       {"--port", "COM1", "send", "start-adult", "--listen", "60"},
       SIGTERM,
       "-- Start Adult BP --",
       3,
       "nibp-cli: stopped by SIGTERM",
       true},
      {"a port that fails to open",
       {"--port", "COM200", "measure", "--mode", "adult", "--csv", csv},
       0,
       "",
       2,
       "nibp-cli: COM200: /dev/ttyS199: No such file or directory",
       false},
  };
  StartSim({"--speed", "10"});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(csv) << "old table\n";
    CliProcess cli = Cli(c.cli);
    if (c.signal != 0) {
      ASSERT_TRUE(cli.WaitForOut(c.waitFor, 1, 20s));
      cli.Signal(c.signal);
    }
    EXPECT_EQ(cli.Wait(), c.status);
    EXPECT_EQ(cli.Err(), std::vector<std::string>{c.err});
    const auto out = Untimed(cli.Out());
    EXPECT_EQ(std::count(out.begin(), out.end(), "E\t-- Abort BP --"), c.aborts ? 1 : 0);
    EXPECT_EQ(ReadLines(csv), std::vector<std::string>{"old table"});
  }
  // A reader that goes away ends a watch at once, with status 1.
  const std::string pipeline = "bash -c '\"" NIBP_CLI_PATH
                               "\" --port COM1 watch | head -n 1 >/dev/null; "
                               "exit ${PIPESTATUS[0]}'";
  const int status = std::system(pipeline.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
}

TEST_F(CliEndToEnd, WatchPrintsPressuresUntilASignalAndTakesALostDeviceBack) {
  StartSim({"--hangup-after", "1", "--reopen"});
  CliProcess cli = Cli({"--port", "COM1", "--json", "watch"});
  // The status at the start, then the status and the event line of the return.
  ASSERT_TRUE(cli.WaitForOut("COM1 OPEN\"}", 3, 20s)) << "opened, lost, and opened again";
  const auto before = cli.Out();
  const auto pressures =
      static_cast<size_t>(std::count_if(before.begin(), before.end(), [](const std::string& l) {
        return l.find("Cuff pressure") != std::string::npos;
      }));
  ASSERT_TRUE(cli.WaitForOut("Cuff pressure", pressures + 2, 10s)) << "polls after the return";
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(), 3);
  EXPECT_EQ(cli.Err(), std::vector<std::string>{"nibp-cli: stopped by SIGINT"});
  std::vector<std::string> texts;
  for (const auto& l : cli.Out()) {
    const size_t tag = l.find("\"tag\":");
    ASSERT_NE(tag, std::string::npos) << l;
    texts.push_back(l.substr(tag));
  }
  // Only pressures, and the port's changes as the console shows them.
  const std::vector<std::string> changes = {
      R"("tag":"S","text":"COM1 OPEN"})", R"("tag":"S","text":"COM1 LOST"})",
      R"("tag":"E","text":"COM1 LOST"})", R"("tag":"S","text":"COM1 OPEN"})",
      R"("tag":"E","text":"COM1 OPEN"})"};
  std::vector<std::string> seen;
  for (const auto& t : texts) {
    if (t == R"("tag":"E","text":"Cuff pressure: 0"})") continue;
    seen.push_back(t);
  }
  EXPECT_EQ(seen, changes);
  EXPECT_EQ(texts.back(), R"("tag":"E","text":"Cuff pressure: 0"})");
}

}  // namespace

// The service checks against the simulator's faults: the verdict, the exit status and the
// report's numbers read back; the module always left with the pump off and both valves open.
namespace {

// The last Pneumatics command the simulated module received, as it logs it.
std::string LastPneumatics(const std::vector<std::string>& simLines) {
  for (auto l = simLines.rbegin(); l != simLines.rend(); ++l) {
    const size_t at = l->find("(Pneumatics: ");
    if (at != std::string::npos) return l->substr(at);
  }
  return "none";
}
const std::string kAllOff = "(Pneumatics: pump off, control valve open, dump valve open)";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TEST_F(CliEndToEnd, ChecksCatchTheSimulatorsFaults) {
  struct Case {
    const char* name;
    std::vector<std::string> sim;
    std::vector<std::string> cli;
    int status;
    std::vector<std::string> inReport;  // JSON fragments
  };
  const std::vector<Case> cases = {
      {"a healthy cuff holds",
       {"--speed", "20"},
       {"leak", "--settle", "0", "--hold", "3"},
       0,
       {R"("name":"leak","verdict":"PASS")", R"("verdict":"PASS")"}},
      {"a leaking cuff",
       {"--speed", "20", "--leak", "20"},
       {"leak", "--settle", "0", "--hold", "3"},
       1,
       {R"("name":"leak","verdict":"FAIL")"}},
      {"a module without overpressure protection",
       {"--speed", "20", "--overpressure", "0"},
       {"overpressure"},
       1,
       {R"("verdict":"FAIL","reason":"no release by 330 mmHg")"}},
      {"a sensor offset against typed-in readings",
       {"--speed", "20", "--sensor-offset", "5"},
       {"static", "--points", "0", "--settle", "2", "--reference", "0"},
       1,
       {R"("target_mmHg":0,"module_mmHg":5.0,"reference_mmHg":0.0,"error_mmHg":5.0)"}},
      {"a sensor offset against a gauge",
       {"--speed", "3", "--sensor-offset", "2", "--gauge", "COM2"},
       {"static", "--points", "0,100", "--settle", "3", "--reference-port", "COM2"},
       0,
       {R"("target_mmHg":0,"module_mmHg":2.0,"reference_mmHg":0.0,"error_mmHg":2.0)",
        R"("name":"static","verdict":"PASS")"}},
  };
  const std::string report = home.Dir() + "/check.html";
  const std::string simLog = home.Dir() + "/sim.log";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StartSim(c.sim, simLog);
    std::vector<std::string> args = {"--port", "COM1", "check"};
    args.insert(args.end(), c.cli.begin(), c.cli.end());
    args.insert(args.end(), {"--report", report, "--operator", "Tester"});
    CliProcess cli = Cli(args);
    EXPECT_EQ(cli.Wait(), c.status) << ::testing::PrintToString(cli.Err());
    const std::string json = ReadAll(home.Dir() + "/check.json");
    for (const std::string& fragment : c.inReport)
      EXPECT_NE(json.find(fragment), std::string::npos) << fragment << "\n" << json;
    EXPECT_NE(ReadAll(report).find("<svg"), std::string::npos);
    EXPECT_NE(cli.Out().back().find("overall: "), std::string::npos);
    EXPECT_EQ(sim->Stop(), 0);
    sim.reset();
    EXPECT_EQ(LastPneumatics(ReadLines(simLog)), kAllOff);
  }
}

// A signal mid-hold stops the check at once (ABORTED, status 3) with the cuff released; a port
// that is not there is a usage problem (status 2).
TEST_F(CliEndToEnd, ACheckStoppedBySignalOrRefusedLeavesTheCuffEmpty) {
  const std::string simLog = home.Dir() + "/sim.log";
  for (const int sig : {SIGTERM, SIGINT}) {
    StartSim({"--speed", "20"}, simLog);
    SCOPED_TRACE(sig);
    CliProcess cli = Cli({"--port", "COM1", "check", "leak", "--settle", "0", "--hold", "60"});
    ASSERT_TRUE(cli.WaitForOut("-- Stop Pump --", 1, 20s));
    cli.Signal(sig);
    EXPECT_EQ(cli.Wait(), 3);
    const auto out = cli.Out();
    EXPECT_NE(out.back().find("overall: ABORTED"), std::string::npos);
    EXPECT_EQ(sim->Stop(), 0);
    sim.reset();
    EXPECT_EQ(LastPneumatics(ReadLines(simLog)), kAllOff);
  }
  CliProcess missing = Cli({"--port", "COM200", "check", "leak"});
  EXPECT_EQ(missing.Wait(), 2);
  EXPECT_EQ(missing.Err().front(), "nibp-cli: COM200: /dev/ttyS199: No such file or directory");
}

// Two modules at once from one process, each with its own report; the status is the worst.
TEST_F(CliEndToEnd, TwoPortsRunAtOnceWithAReportEach) {
  StartSim({"--speed", "20"});
  SimProcess leaking(NIBP_SIM_PATH, {"--port", "COM3", "--quiet", "--speed", "20", "--leak", "20"});
  ASSERT_TRUE(SimProcess::WaitForPath(home.PortLink("COM3"), 10s));
  const std::string report = home.Dir() + "/two.html";
  CliProcess cli = Cli({"--port", "COM1", "--port", "COM3", "check", "leak", "--settle", "0",
                        "--hold", "3", "--report", report, "--module-id", "M-7"});
  EXPECT_EQ(cli.Wait(), 1) << ::testing::PrintToString(cli.Err());
  const std::string one = ReadAll(home.Dir() + "/two-COM1.json");
  const std::string three = ReadAll(home.Dir() + "/two-COM3.json");
  EXPECT_NE(one.find(R"("port":"COM1")"), std::string::npos);
  EXPECT_NE(one.find(R"("device":"/dev/pts/)"), std::string::npos) << one;  // not the port's link
  EXPECT_NE(one.find(R"("name":"leak","verdict":"PASS")"), std::string::npos) << one;
  EXPECT_NE(three.find(R"("port":"COM3")"), std::string::npos);
  EXPECT_NE(three.find(R"("name":"leak","verdict":"FAIL")"), std::string::npos) << three;
  EXPECT_NE(three.find(R"("module_id":"M-7")"), std::string::npos);
  const auto err = cli.Err();
  EXPECT_TRUE(std::any_of(err.begin(), err.end(),
                          [](const std::string& l) { return l.starts_with("COM3 leak"); }));
  EXPECT_EQ(leaking.Stop(), 0);
}

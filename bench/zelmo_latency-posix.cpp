// zelmo-latency: how much time the bridge adds to the serial line. Runs the real zelmo, hidden
// mode, against a register played on a pseudo-terminal by the virtual register's engine, and
// prints a Markdown table. See --help.
#include <sched.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "latency_session.h"
#include "latency_stats.h"

namespace {

constexpr const char* kUsage = R"(Usage: zelmo-latency [OPTION]...
Runs zelmo (hidden mode) against a register on a pseudo-terminal and reports, as a Markdown
table: start-up to the first byte, the bridge's turnaround after each answer, the job's time
against the pure line time at a simulated baud rate, and the bridge's peak memory and CPU time.

  --zelmo PATH      the program to measure (default: the one built beside this harness)
  --starts N        start-up runs per front-end (default 100)
  --jobs N          unpaced jobs of 43 items (default 40); a tenth as many (at least 3) of 1000
  --paced N         paced jobs of 43 items at the simulated baud rate (default 5, 3.3 s each)
  --paced-long N    paced jobs of 1000 items (default 0, 73 s each)
  --baud RATE       the simulated line's speed (default 9600)
  --desktop         also time the desktop front-end's start-up (default: when there is a
                    display)
  --no-desktop      never run the desktop front-end
  --no-script       do not time the pyserial script (python3-serial) beside the bridge
  -h, --help        this text
)";

struct Options {
  std::string zelmo = ZELMO_BIN;
  int starts = 100;
  int jobs = 40;
  int paced = 5;
  int pacedLong = 0;
  long baud = 9600;
  bool desktop = false;  // set from the environment by ParseOptions
  bool script = true;    // the pyserial script beside the bridge, when Python has pyserial
};

// As the desktop front-end decides it.
bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

int Count(const std::string& option, const std::string& text, int least) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < least || value > 1000000) {
    throw std::invalid_argument(option + " wants a whole number of at least " +
                                std::to_string(least));
  }
  return static_cast<int>(value);
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  o.desktop = HasDisplay();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(arg + " wants a value");
      return argv[++i];
    };
    if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      std::exit(0);
    } else if (arg == "--zelmo") {
      o.zelmo = value();
    } else if (arg == "--starts") {
      o.starts = Count(arg, value(), 1);
    } else if (arg == "--jobs") {
      o.jobs = Count(arg, value(), 1);
    } else if (arg == "--paced") {
      o.paced = Count(arg, value(), 0);
    } else if (arg == "--paced-long") {
      o.pacedLong = Count(arg, value(), 0);
    } else if (arg == "--baud") {
      o.baud = Count(arg, value(), 300);
    } else if (arg == "--desktop") {
      o.desktop = true;
    } else if (arg == "--no-desktop") {
      o.desktop = false;
    } else if (arg == "--no-script") {
      o.script = false;
    } else {
      throw std::invalid_argument("unknown option " + arg);
    }
  }
  if (o.desktop && !HasDisplay()) {
    throw std::invalid_argument("--desktop needs a display; run under xvfb-run");
  }
  return o;
}

// Every run of one kind, pooled; the first run is a warm-up and is not counted.
struct Pool {
  std::vector<bench::JobTiming> jobs;
  std::vector<double> Collect(const std::function<double(const bench::JobTiming&)>& of) const {
    std::vector<double> values;
    for (const auto& job : jobs) values.push_back(of(job));
    return values;
  }
  std::vector<double> Turnarounds() const {
    std::vector<double> all;
    for (const auto& job : jobs) {
      for (const double us : job.turnaroundUs) all.push_back(us / 1e3);
    }
    return all;
  }
};

Pool RunMany(const bench::JobPlan& plan, int runs, const char* what) {
  std::fprintf(stderr, "%s: %d runs ", what, runs);
  Pool pool;
  for (int i = 0; i <= runs; ++i) {
    bench::JobTiming timing = bench::RunJob(plan);
    if (!timing.failure.empty())
      throw std::runtime_error(std::string(what) + ": " + timing.failure);
    if (i > 0) pool.jobs.push_back(std::move(timing));
    if (i % 10 == 0) std::fputc('.', stderr);
    std::fflush(stderr);
  }
  std::fputc('\n', stderr);
  return pool;
}

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// "met", or by how much the value is over its target.
std::string Verdict(double value, double target, const std::string& unit, int decimals) {
  if (value < target) return "met";
  return "missed by " + Fixed(value - target, decimals) + " " + unit + " (" +
         Fixed(value / target, 1) + "x)";
}

// One row of the table: a summary in `unit`, its target and whether it is met.
void PrintRow(const std::string& what, const bench::Summary& s, const std::string& unit,
              int decimals, const std::string& target = "", const std::string& result = "") {
  const std::string space = unit.empty() || unit == "%" ? "" : " ";
  std::printf("| %s | %zu | %s%s%s | %s%s%s | %s | %s |\n", what.c_str(), s.count,
              Fixed(s.median, decimals).c_str(), space.c_str(), unit.c_str(),
              Fixed(s.p99, decimals).c_str(), space.c_str(), unit.c_str(), target.c_str(),
              result.c_str());
  std::fflush(stdout);
}

std::string CpuModel() {
  std::ifstream in("/proc/cpuinfo");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return "unknown CPU";
}

// The register's side runs at a real-time priority when the system allows it, so that its own
// wake-ups on a busy machine are not put down to the bridge. The bridge does not inherit it.
bool RealTimeRegister() {
  sched_param param{};
  param.sched_priority = 10;
  return sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0;
}

void Machine(bool realTime) {
  utsname u{};
  uname(&u);
  char date[32];
  const std::time_t now = std::time(nullptr);
  std::strftime(date, sizeof date, "%Y-%m-%d", std::localtime(&now));
  double load[3] = {};
  getloadavg(load, 3);
  std::printf("Machine: %s, %ld cores, Linux %s, load average %.2f; %s. Register side: %s.\n\n",
              CpuModel().c_str(), sysconf(_SC_NPROCESSORS_ONLN), u.release, load[0], date,
              realTime ? "real-time priority" : "normal priority");
}

bench::Summary Startups(const Pool& pool) {
  return bench::Summarize(pool.Collect([](auto& j) { return j.startupMs; }));
}

void StartupRow(const Options& o, bench::JobPlan plan, bench::FrontEndKind kind) {
  const bool desktop = kind == bench::FrontEndKind::kDesktop;
  const std::string what =
      std::string("start-up to first byte, ") + (desktop ? "desktop (GTK)" : "console");
  const double target = desktop ? 20 : 10;
  const std::string goal = "< " + Fixed(target, 0) + " ms median";
  if (desktop && !o.desktop) {
    std::printf("| %s | 0 | - | - | %s | not run: no display |\n", what.c_str(), goal.c_str());
    return;
  }
  plan.items = 1;
  plan.frontEnd = kind;
  const auto s = Startups(RunMany(plan, o.starts, what.c_str()));
  PrintRow(what + ", 1 item", s, "ms", 2, goal, Verdict(s.median, target, "ms", 2));
}

std::string Items(int items) {
  return std::to_string(items) + " items";
}

void TurnaroundRow(const std::string& what, const Pool& pool) {
  const auto t = bench::Summarize(pool.Turnarounds());
  const std::string result =
      "median " + Verdict(t.median, 0.1, "ms", 3) + "; 99th pct " + Verdict(t.p99, 1.0, "ms", 3);
  PrintRow(what, t, "ms", 3, "< 0.1 ms median, < 1 ms 99th pct", result);
}

void CpuRow(const std::string& what, const Pool& pool) {
  PrintRow("CPU time of the bridge, " + what,
           bench::Summarize(pool.Collect([](auto& j) { return j.cpuSeconds * 1e3; })), "ms", 2);
}

void JobRows(const Pool& pool, int items) {
  PrintRow("start-up to first byte, console, " + Items(items), Startups(pool), "ms", 2);
  TurnaroundRow("turnaround, " + Items(items), pool);
  PrintRow("last answer to exit, " + Items(items),
           bench::Summarize(pool.Collect([](auto& j) { return j.exitMs; })), "ms", 2);
  const auto rss = bench::Summarize(pool.Collect([](auto& j) { return j.maxRssKb / 1024.0; }));
  PrintRow("peak resident memory, " + Items(items), rss, "MB", 2, "< 8 MB, largest run",
           Verdict(rss.max, 8, "MB", 2));
  CpuRow(Items(items), pool);
}

void PacedRows(const Options& o, bench::JobPlan plan, int items, int runs) {
  if (runs == 0) return;
  plan.items = items;
  plan.baud = o.baud;
  plan.timeoutSeconds = 60 + items * 0.2;
  const std::string paced = Items(items) + " at " + std::to_string(o.baud) + " Bd";
  const Pool pool = RunMany(plan, runs, ("paced, " + paced).c_str());
  const double line = pool.jobs.front().lineSeconds;

  const auto ratio =
      bench::Summarize(pool.Collect([](auto& j) { return j.totalSeconds / j.lineSeconds; }));
  PrintRow("job time / line time (" + Fixed(line, 3) + " s), " + paced, ratio, "", 4, "< 1.01",
           Verdict(ratio.median, 1.01, "", 4));
  // What is left once the line and the harness's own late wake-ups are taken out.
  const auto own = bench::Summarize(pool.Collect([](auto& j) {
    return (j.totalSeconds - j.lineSeconds - j.oversleepSeconds) / j.lineSeconds * 100;
  }));
  PrintRow("bridge's own time, share of line time, " + paced, own, "%", 3, "< 1 %",
           Verdict(own.median, 1, "%", 3));
  PrintRow("harness woke late, summed, " + paced,
           bench::Summarize(pool.Collect([](auto& j) { return j.oversleepSeconds * 1e3; })), "ms",
           2);
  TurnaroundRow("turnaround, " + paced, pool);
  CpuRow(paced, pool);
}

// Every thread of the bridge together, from its start to its end: a reply that costs one sleep
// and one wake is one switch.
void SwitchesRow(const Pool& pool) {
  const size_t replies = pool.jobs.front().commands.size();
  const auto s = bench::Summarize(
      pool.Collect([](auto& j) { return static_cast<double>(j.contextSwitches); }));
  const std::string result =
      s.median <= static_cast<double>(replies)
          ? "met (" + Fixed(s.median / static_cast<double>(replies), 2) + " per reply)"
          : "missed: " + Fixed(s.median / static_cast<double>(replies), 2) + " per reply";
  PrintRow("context switches of the bridge, whole job, all threads, " + Items(43) + " (" +
               std::to_string(replies) + " replies)",
           s, "", 0, "<= 1 per reply", result);
  // The rest is the machine's: other programs taking the processor from the bridge.
  PrintRow("of those, going to sleep (voluntary)", bench::Summarize(pool.Collect([](auto& j) {
             return static_cast<double>(j.voluntarySwitches);
           })),
           "", 0);
}

// The simplest program that does the bridge's work on the line, a pyserial script sending the
// same job's commands one after each reply, timed by the same register.
void ScriptRow(bench::JobPlan plan, const Pool& bridge, int runs) {
  plan.replay = bridge.jobs.front().commands;
  const Pool pool = RunMany(plan, runs, "pyserial script, 43 items");
  const auto script = bench::Summarize(pool.Turnarounds());
  const auto ours = bench::Summarize(bridge.Turnarounds());
  PrintRow("turnaround, pyserial script, the same 43-item job", script, "ms", 3, "",
           "the bridge: " + Fixed(ours.median / script.median, 2) + "x the script's median");
  PrintRow("context switches of the pyserial script, whole job",
           bench::Summarize(
               pool.Collect([](auto& j) { return static_cast<double>(j.contextSwitches); })),
           "", 0);
}

// What the machine itself takes for the round trip that every turnaround includes.
void EchoRow(int count, double idleMs) {
  std::vector<double> ms;
  for (const double us : bench::EchoTurnarounds("/proc/self/exe", count, idleMs)) {
    ms.push_back(us / 1e3);
  }
  const std::string when = idleMs > 0 ? "after " + Fixed(idleMs, 0) + " ms idle" : "back to back";
  PrintRow("reference: one-thread echo program, " + when, bench::Summarize(ms), "ms", 3);
}

void Report(const Options& o) {
  bench::JobPlan plan;
  plan.zelmo = o.zelmo;
  // The rows are printed as they are measured; the progress dots go to standard error.
  Machine(RealTimeRegister());
  std::printf("| Measure | Samples | Median | 99th pct | Target | Result |\n");
  std::printf("|---|---|---|---|---|---|\n");
  std::fflush(stdout);
  StartupRow(o, plan, bench::FrontEndKind::kConsole);
  StartupRow(o, plan, bench::FrontEndKind::kDesktop);
  for (const int items : {43, 1000}) {
    plan.items = items;
    const int runs = items == 43 ? o.jobs : std::max(3, o.jobs / 10);
    const Pool pool = RunMany(plan, runs, ("unpaced, " + Items(items)).c_str());
    JobRows(pool, items);
    if (items == 43) {
      SwitchesRow(pool);
      if (o.script) ScriptRow(plan, pool, runs);
    }
  }
  EchoRow(1000, 0);
  PacedRows(o, plan, 43, o.paced);
  PacedRows(o, plan, 1000, o.pacedLong);
  // An item frame and its answer keep the line busy for 73 ms at 9600 Bd.
  if (o.paced + o.pacedLong > 0) EchoRow(40, 70.0 * 10'000 / static_cast<double>(o.baud));
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 3 && std::string(argv[1]) == bench::kEchoOption) {
      bench::Echo(argv[2]);
      return 0;
    }
    Report(ParseOptions(argc, argv));
    return 0;
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "zelmo-latency: %s\nTry 'zelmo-latency --help'.\n", e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zelmo-latency: %s\n", e.what());
    return 1;
  }
}

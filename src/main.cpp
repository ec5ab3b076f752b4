// zelmo: prints the receipt smetka.txt beside the program on the fiscal register of the
// configured serial port, then ends with a status the point-of-sale program can act on.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "app/exit_status.h"
#include "app/job_machine.h"
#include "service/serve.h"
#include "service/stop_signals.h"
#include "service/windows_service.h"
#include "sys/arguments.h"
#include "sys/data_folder.h"
#include "sys/paths.h"
#include "ui/frm_main.h"
#include "ui/front_end.h"

namespace {

constexpr const char* kUsage =
    "Usage: zelmo [--dir FOLDER] [--console]\n"
    "       zelmo --serve [--dir FOLDER]\n"
    "       zelmo --service install|uninstall|run [--dir FOLDER]   (Windows)\n"
    "Prints the receipt smetka.txt on the fiscal register, as set in Zelmocfg.ini.\n"
    "\n"
    "  --dir FOLDER  take settings and receipts from FOLDER; without it, from the program's\n"
    "                folder (installed on Linux: $ZELMO_DIR, else ~/.local/share/zelmo)\n"
    "  --console     no window: messages on standard error, answers and the print button\n"
    "                on standard input, the register's replies on standard output\n"
    "  --serve       the print service: receipts as HTTP requests on loopback, each job\n"
    "                printed as a hidden run of its own, until SIGTERM or Ctrl+C\n"
    "                ([Service] and [Registers] in Zelmocfg.ini; ends with 0 when stopped,\n"
    "                6 for a bad setting, 1 when it cannot listen)\n"
    "  --service     Windows: install the print service with the service manager\n"
    "                (automatic start, restarted on failure), uninstall it, or run as it\n"
    "  --help        this text\n"
    "  --version     the program's version\n"
    "\n"
    "Optional keys of [Parametri]: Settings=9600,n,8,1 (speed 1200 to 115200, parity n e o m s,\n"
    "7 or 8 data bits, 1 or 2 stop bits); Handshaking=2 (RTS/CTS) or 0 (none); Timeout=SECONDS\n"
    "(1 to 3600) to give up on a register that does not answer; Log=PATH, a log file each run\n"
    "appends to, relative to the folder; Journal=1, a guard against printing a receipt twice.\n"
    "\n";

struct Options {
  std::filesystem::path folder;
  bool console = false;
  bool serve = false;
};

[[noreturn]] void Quit(int status, const std::string& text, FILE* to) {
  std::fputs(text.c_str(), to);
  zelmo::RestoreConsole();
  std::fflush(nullptr);
  std::exit(status);
}

std::string Usage() {
  return kUsage + zelmo::UsageStatusList();
}

// The folder once and for all as an absolute path without "." or "..", so that every message
// names it the way the operator would find it.
std::filesystem::path Canonical(const std::filesystem::path& folder) {
  std::error_code ec;
  std::filesystem::path full = std::filesystem::weakly_canonical(folder, ec);
  if (ec) full = std::filesystem::absolute(folder, ec).lexically_normal();
  if (!full.has_filename() && full.has_relative_path()) full = full.parent_path();
  return full;
}

Options ParseOptions(const std::vector<std::string>& args) {
  Options options;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") Quit(0, Usage(), stdout);
    if (arg == "--version") Quit(0, "zelmo " ZELMO_VERSION "\n", stdout);
    if (arg == "--service") Quit(zelmo::service::ServiceCommandMain(args), "", stdout);
    if (arg == "--console") {
      options.console = true;
    } else if (arg == "--serve") {
      options.serve = true;
    } else if (arg == "--dir" && i + 1 < args.size()) {
      options.folder = zelmo::Utf8ToPath(args[++i]);
    } else {
      std::fprintf(stderr, "zelmo: unknown option '%s'\n", arg.c_str());
      Quit(1, Usage(), stderr);
    }
  }
  if (options.folder.empty()) options.folder = zelmo::DefaultDataFolder();
  options.folder = Canonical(options.folder);
  return options;
}

// Before the window exists the program can only say why it stops on standard error.
[[noreturn]] void EndBeforeTheWindow(zelmo::ProgramEnd& end, const std::string& reason) {
  using zelmo::RunEvent;
  const zelmo::Outcome outcome =
      zelmo::Decide(zelmo::RunPhase::kStartingUp, RunEvent::kResourceFailure);
  const std::string text = zelmo::OperatorMessage(outcome, reason);
  std::fprintf(stderr, "%s\n%s\n", zelmo::kAppTitle, text.c_str());
  end.End(outcome.status);
  std::abort();  // an ending that returned: never go on
}

void Run(const Options& options, zelmo::ProgramEnd& end) {
  std::unique_ptr<zelmo::FrontEnd> ui;
  if (!options.console) ui = zelmo::MakeDesktopFrontEnd(end);
  if (!ui) ui = zelmo::MakeConsoleFrontEnd(end);
  zelmo::FrontEnd& loop = *ui;
  zelmo::FrmMain frmMain(
      *ui, end, options.folder,
      [&loop](zelmo::CommListener& listener) { return zelmo::MakeSerialPort(loop, listener); },
      &loop);
  frmMain.SetVersion(ZELMO_VERSION);
  try {
    ui->Run(frmMain.Handlers());
    frmMain.ResourceFailure("the event loop ended");
  } catch (const std::exception& e) {
    // The loop itself failed: before sending that is a plain failure, after it a cut-off.
    frmMain.ResourceFailure(e.what());
  }
}

// The service's exit status is its own (0 stopped, 6 settings, 1 failure): it never runs a job in
// this process, so the job state machine does not come into it.
int Serve(const Options& options) {
  static zelmo::service::StopRequest stop;
  try {
    zelmo::service::StopOnSignals(stop);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zelmo: %s\n", e.what());
    return 1;
  }
  return zelmo::service::Serve(zelmo::PathToUtf8(options.folder), stop);
}

}  // namespace

int main(int argc, char** argv) {
  zelmo::ProcessEnd end;
  try {
    const Options options = ParseOptions(zelmo::Utf8Arguments(argc, argv));
    if (options.serve) return Serve(options);
    Run(options, end);
  } catch (const std::exception& e) {
    // A front-end or the port that could not be made: threads, descriptors, memory.
    EndBeforeTheWindow(end, e.what());
  }
  end.End(zelmo::ExitStatus::kOther);
}

// zelmo: prints the receipt smetka.txt beside the program on the fiscal register of the
// configured serial port, then ends with a status the point-of-sale program can act on.
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "app/exit_status.h"
#include "sys/arguments.h"
#include "sys/data_folder.h"
#include "sys/executable.h"
#include "sys/paths.h"
#include "ui/frm_main.h"
#include "ui/front_end.h"

namespace {

constexpr const char* kUsage =
    "Usage: zelmo [--dir FOLDER] [--console]\n"
    "Prints the receipt smetka.txt on the fiscal register, as set in Zelmocfg.ini.\n"
    "\n"
    "  --dir FOLDER  take settings and receipts from FOLDER instead of the program's folder\n"
    "  --console     no window: messages on standard error, answers and the print button\n"
    "                on standard input, the register's replies on standard output\n"
    "  --help        this text\n"
    "  --version     the program's version\n"
    "\n"
    "Exit status: 0 sent; 2 no receipt; 3 receipt not loaded or refused; 4 default refused or\n"
    "name missing; 5 storno refused; 6 configuration error; 7 port failed before sending;\n"
    "8 closed before sending; 9 sent but receipt not deleted; 10 cut off after sending began\n"
    "(check the register before printing again); 1 anything else.\n";

struct Options {
  std::filesystem::path folder;
  bool console = false;
};

[[noreturn]] void Quit(int status, const char* text, FILE* to) {
  std::fputs(text, to);
  std::fflush(nullptr);
  std::exit(status);
}

Options ParseOptions(const std::vector<std::string>& args) {
  Options options;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") Quit(0, kUsage, stdout);
    if (arg == "--version") Quit(0, "zelmo " ZELMO_VERSION "\n", stdout);
    if (arg == "--console") {
      options.console = true;
    } else if (arg == "--dir" && i + 1 < args.size()) {
      options.folder = zelmo::Utf8ToPath(args[++i]);
    } else {
      std::fprintf(stderr, "zelmo: unknown option '%s'\n", arg.c_str());
      Quit(1, kUsage, stderr);
    }
  }
  if (options.folder.empty()) options.folder = zelmo::DefaultDataFolder();
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(options.folder, ec);
  if (!ec) options.folder = absolute;
  if (!options.folder.has_filename()) options.folder = options.folder.parent_path();
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(zelmo::Utf8Arguments(argc, argv));
  zelmo::ProcessEnd end;
  std::unique_ptr<zelmo::FrontEnd> ui;
  if (!options.console) ui = zelmo::MakeDesktopFrontEnd(end);
  if (!ui) ui = zelmo::MakeConsoleFrontEnd(end);
  zelmo::FrontEnd& loop = *ui;
  zelmo::FrmMain frmMain(*ui, end, options.folder, [&loop](zelmo::CommListener& listener) {
    return zelmo::MakeSerialPort(loop, listener);
  });
  try {
    ui->Run(frmMain.Handlers());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zelmo: %s\n", e.what());
  }
  end.End(zelmo::ExitStatus::kOther);
}

#include "service/windows_service.h"

#include <cstdio>

namespace zelmo::service {
namespace {

constexpr const char* kServiceUsage =
    "Usage: zelmo --service install|uninstall|run [--dir FOLDER]\n"
    "  install    register the print service with the service manager: started with Windows,\n"
    "             restarted when it fails, serving FOLDER (without --dir, the program's folder)\n"
    "  uninstall  stop the service (a running job ends first) and remove it\n"
    "  run        what the service manager starts; no window, nothing to run by hand\n";

std::optional<ServiceAction> ActionNamed(std::string_view name) {
  if (name == "install") return ServiceAction::kInstall;
  if (name == "uninstall") return ServiceAction::kUninstall;
  if (name == "run") return ServiceAction::kRun;
  return std::nullopt;
}

}  // namespace

std::optional<std::variant<ServiceCommand, std::string>> ParseServiceCommand(
    const std::vector<std::string>& args) {
  bool asked = false;
  for (std::size_t i = 1; i < args.size(); ++i) asked = asked || args[i] == "--service";
  if (!asked) return std::nullopt;

  ServiceCommand command;
  bool haveAction = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "--service" && !haveAction) {
      if (!hasValue) break;
      const std::optional<ServiceAction> action = ActionNamed(args[++i]);
      if (!action) return "zelmo: --service takes install, uninstall or run, not '" + args[i] + "'";
      command.action = *action;
      haveAction = true;
    } else if (arg == "--dir" && hasValue && command.folder.empty()) {
      command.folder = args[++i];
      if (command.folder.empty()) return std::string("zelmo: --dir names no folder");
    } else {
      return "zelmo: '" + arg + "' does not go with --service";
    }
  }
  if (!haveAction) return std::string("zelmo: --service takes install, uninstall or run");
  return command;
}

// Windows' rule: backslashes are plain unless they stand before a quote, where each pair
// gives one and an odd one takes the quote literally.
std::string QuoteArgument(std::string_view arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string_view::npos) {
    return std::string(arg);
  }
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') backslashes = backslashes * 2 + 1;
    quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

std::string ServiceCommandLine(const std::string& program, const std::string& folder) {
  return QuoteArgument(program) + " --service run --dir " + QuoteArgument(folder);
}

int ServiceCommandMain(const std::vector<std::string>& args) {
  const auto parsed = ParseServiceCommand(args);
  if (const auto* problem = std::get_if<std::string>(&*parsed)) {
    std::fprintf(stderr, "%s\n%s", problem->c_str(), kServiceUsage);
    return 1;
  }
  return RunServiceCommand(std::get<ServiceCommand>(*parsed));
}

}  // namespace zelmo::service

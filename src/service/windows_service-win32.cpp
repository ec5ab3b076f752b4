// The print service under the Windows service control manager: registered to start with the
// machine and to be restarted when it fails, and run as the manager's own process, which has no
// window and no console.
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "service/serve.h"
#include "service/stop_request.h"
#include "service/windows_service.h"
#include "sys/data_folder.h"
#include "sys/executable.h"
#include "sys/paths.h"
#include "sys/wide-win32.h"

namespace zelmo::service {
namespace {

const std::wstring kName = Utf8ToWide(kServiceName);
constexpr const wchar_t* kDisplayName = L"Zelmo print service";
constexpr const wchar_t* kDescription =
    L"Prints fiscal receipts that point-of-sale programs send over HTTP, one job at a time per "
    L"register (zelmo --serve).";
// An account of its own kind with no rights beyond a user's: the Users group may change the
// program's folder (the installer grants it) and open the serial ports.
constexpr const wchar_t* kAccount = L"NT AUTHORITY\\LocalService";
// Time given to a running job at a stop before the manager may give up on us; the job is let end
// as a lone run of the program would, and while it runs the stop is reported as still pending.
constexpr DWORD kStopHintMs = 10'000;
// A shutdown waits for the job's end as a stop does, up to this long.
constexpr DWORD kPreshutdownMs = 120'000;
// How long uninstall waits for the service's process to end before removing it anyway.
constexpr DWORD kUninstallWaitMs = 180'000;

struct Handle {
  void operator()(SC_HANDLE h) const { CloseServiceHandle(h); }
};
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, Handle>;

int Refused(const std::string& what, DWORD error) {
  std::fprintf(stderr, "zelmo: %s: %s\n", what.c_str(), SystemMessage(error).c_str());
  if (error == ERROR_ACCESS_DENIED) std::fputs("zelmo: run it as an administrator\n", stderr);
  return 1;
}

std::filesystem::path DataFolder(const std::string& given) {
  std::filesystem::path folder = given.empty() ? DefaultDataFolder() : Utf8ToPath(given);
  std::error_code ec;
  const std::filesystem::path full = std::filesystem::weakly_canonical(folder, ec);
  if (!ec) folder = full;
  // The manager starts the service in the system folder: the path must stand on its own.
  return std::filesystem::absolute(folder, ec).lexically_normal();
}

// Restarted 5 s after a failure, then after 30 s, then after a minute each time; a day without
// one starts the count again. A stop with an error status counts as a failure, as a crash does.
void SetRecovery(SC_HANDLE service) {
  SC_ACTION actions[] = {
      {SC_ACTION_RESTART, 5'000}, {SC_ACTION_RESTART, 30'000}, {SC_ACTION_RESTART, 60'000}};
  SERVICE_FAILURE_ACTIONSW failure{};
  failure.dwResetPeriod = 24 * 60 * 60;
  failure.cActions = static_cast<DWORD>(std::size(actions));
  failure.lpsaActions = actions;
  if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure)) {
    std::fprintf(stderr, "zelmo: the restart on failure was not set: %s\n",
                 SystemMessage(GetLastError()).c_str());
  }
  SERVICE_FAILURE_ACTIONS_FLAG onError{TRUE};
  ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onError);
  SERVICE_PRESHUTDOWN_INFO preshutdown{kPreshutdownMs};
  ChangeServiceConfig2W(service, SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown);
}

int Install(const std::string& given) {
  const std::filesystem::path folder = DataFolder(given);
  const std::wstring command =
      Utf8ToWide(ServiceCommandLine(PathToUtf8(ExecutablePath()), PathToUtf8(folder)));
  ScHandle manager(
      OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  if (!manager) return Refused("the service manager cannot be opened", GetLastError());
  ScHandle service(CreateServiceW(manager.get(), kName.c_str(), kDisplayName, SERVICE_ALL_ACCESS,
                                  SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                  SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                                  kAccount, L""));
  if (!service && GetLastError() == ERROR_SERVICE_EXISTS) {
    // Installed before (an update, another folder): the same service, set up anew.
    service.reset(OpenServiceW(manager.get(), kName.c_str(), SERVICE_ALL_ACCESS));
    if (service && !ChangeServiceConfigW(service.get(), SERVICE_WIN32_OWN_PROCESS,
                                         SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(),
                                         nullptr, nullptr, nullptr, kAccount, L"", kDisplayName)) {
      return Refused("the service cannot be changed", GetLastError());
    }
  }
  if (!service) return Refused("the service cannot be installed", GetLastError());
  SERVICE_DESCRIPTIONW description{const_cast<wchar_t*>(kDescription)};
  ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &description);
  SetRecovery(service.get());
  std::printf(
      "zelmo: the service %s is installed, serving %s; it starts with Windows, or now with: sc "
      "start %s\n",
      kServiceName, PathToUtf8(folder).c_str(), kServiceName);
  return 0;
}

SERVICE_STATUS_PROCESS Query(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                       sizeof status, &needed);
  return status;
}

// Asks the service to stop and waits until its process is gone, so that its program file may be
// removed next.
void StopAndWait(SC_HANDLE service) {
  const SERVICE_STATUS_PROCESS before = Query(service);
  if (before.dwCurrentState == SERVICE_STOPPED) return;
  HANDLE process =
      before.dwProcessId ? OpenProcess(SYNCHRONIZE, FALSE, before.dwProcessId) : nullptr;
  SERVICE_STATUS status{};
  ControlService(service, SERVICE_CONTROL_STOP, &status);
  const ULONGLONG until = GetTickCount64() + kUninstallWaitMs;
  while (Query(service).dwCurrentState != SERVICE_STOPPED && GetTickCount64() < until) Sleep(250);
  if (process) {
    WaitForSingleObject(
        process, static_cast<DWORD>(until > GetTickCount64() ? until - GetTickCount64() : 0));
    CloseHandle(process);
  }
}

int Uninstall() {
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return Refused("the service manager cannot be opened", GetLastError());
  ScHandle service(
      OpenServiceW(manager.get(), kName.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
  if (!service && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
    std::printf("zelmo: no service %s is installed\n", kServiceName);
    return 0;
  }
  if (!service) return Refused("the service cannot be opened", GetLastError());
  StopAndWait(service.get());
  if (!DeleteService(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
    return Refused("the service cannot be removed", GetLastError());
  }
  std::printf("zelmo: the service %s is stopped and removed\n", kServiceName);
  return 0;
}

// The running service. The manager calls ServiceMain and the control handler with no room for
// our own state, so it lives here for the one service this process runs.
struct Running {
  std::filesystem::path folder;
  SERVICE_STATUS_HANDLE handle = nullptr;
  std::mutex reporting;
  DWORD checkPoint = 0;
  StopRequest stop;
  StopRequest served;  // Serve has returned
  int status = 0;
};
Running* running = nullptr;

void Report(DWORD state, DWORD exitStatus = 0) {
  std::lock_guard lock(running->reporting);
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  if (state == SERVICE_RUNNING) {
    status.dwControlsAccepted =
        SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN;
  }
  if (exitStatus != 0) {
    status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = exitStatus;
  }
  const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
  status.dwCheckPoint = pending ? ++running->checkPoint : 0;
  status.dwWaitHint = pending ? kStopHintMs : 0;
  SetServiceStatus(running->handle, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
    case SERVICE_CONTROL_PRESHUTDOWN:
      Report(SERVICE_STOP_PENDING);
      running->stop.Request();
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

// From the stop request until Serve returns, the manager hears that the stop is still under way.
void ReportStopping() {
  running->stop.Wait();
  while (!running->served.WaitFor(std::chrono::milliseconds(kStopHintMs / 4))) {
    Report(SERVICE_STOP_PENDING);
  }
}

// The service has no standard error of its own: what the print service says there (a setting
// it refuses, naming the key) goes to a file in its folder.
void KeepStandardError(const std::filesystem::path& folder) {
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err && err != INVALID_HANDLE_VALUE && GetFileType(err) != FILE_TYPE_UNKNOWN) return;
  _wfreopen((folder / L"zelmo-service.log").c_str(), L"a", stderr);
}

void WINAPI ServiceEntry(DWORD, wchar_t**) {
  running->handle = RegisterServiceCtrlHandlerExW(kName.c_str(), Control, nullptr);
  if (!running->handle) return;
  Report(SERVICE_START_PENDING);
  KeepStandardError(running->folder);
  std::thread stopping(ReportStopping);
  Report(SERVICE_RUNNING);
  running->status = Serve(PathToUtf8(running->folder), running->stop);
  running->served.Request();
  running->stop.Request();  // Serve ended of itself: the reporter is let go
  stopping.join();
  std::fflush(stderr);
  Report(SERVICE_STOPPED, static_cast<DWORD>(running->status));
}

int Run(const std::string& given) {
  Running service;
  service.folder = DataFolder(given);
  running = &service;
  SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(kName.c_str()), ServiceEntry},
                                  {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    const DWORD error = GetLastError();
    running = nullptr;
    if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
      std::fputs(
          "zelmo: --service run is started by the service manager (sc start zelmo); to run the "
          "print service here, use zelmo --serve\n",
          stderr);
      return 1;
    }
    return Refused("the service manager did not take the service", error);
  }
  running = nullptr;
  return service.status;
}

}  // namespace

int RunServiceCommand(const ServiceCommand& command) {
  switch (command.action) {
    case ServiceAction::kInstall:
      return Install(command.folder);
    case ServiceAction::kUninstall:
      return Uninstall();
    case ServiceAction::kRun:
      return Run(command.folder);
  }
  return 1;
}

}  // namespace zelmo::service

// A job's run on Windows: zelmo.exe started with CreateProcessW, no window, its standard input
// the NUL device (at its end at once), its output appended to the job's file. Only those two
// handles are inherited, so that a run never holds the server's sockets or another run's files.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "service/child_process.h"
#include "sys/wide-win32.h"

namespace zelmo::service {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw ChildProcessError(what + ": " + SystemMessage(GetLastError()));
}

// One argument as CommandLineToArgvW (and the C runtime) reads it back: quoted when it holds a
// blank or a quote, backslashes doubled only where a quote follows them.
void AppendArgument(std::wstring& line, const std::wstring& argument) {
  if (!line.empty()) line += L' ';
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

class Handle {
 public:
  explicit Handle(HANDLE h = nullptr) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (h_) CloseHandle(h_);
  }
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HANDLE h_;
};

HANDLE Inheritable(const wchar_t* path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A job that ends the run with the service: where the system lets us have one, no run can go on
// holding the port after the service died.
HANDLE KillWithServiceJob() {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (!job) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    CloseHandle(job);
    return nullptr;
  }
  return job;
}

class WindowsChild : public ChildProcess {
 public:
  WindowsChild(HANDLE process, HANDLE job) : process_(process), job_(job) {}
  ~WindowsChild() override {
    if (!status_) {
      RequestEnd();
      WaitFor(std::chrono::hours(1));
    }
  }

  std::optional<int> WaitFor(std::chrono::milliseconds timeout) override {
    if (status_) return status_;
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      const DWORD wait = static_cast<DWORD>(std::clamp<long long>(left.count(), 0, 60000));
      if (WaitForSingleObject(process_.get(), wait) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process_.get(), &code);
        status_ = static_cast<int>(code);
        return status_;
      }
      if (left.count() <= 0) return std::nullopt;
    }
  }

  // zelmo.exe --console takes its close requests from a console, and a run of the service has
  // none: the run is ended outright, and its end is read from its log as after a crash.
  void RequestEnd() override {
    if (!status_) TerminateProcess(process_.get(), 128 + 15);
  }

 private:
  Handle process_;
  Handle job_;
  std::optional<int> status_;
};

}  // namespace

std::unique_ptr<ChildProcess> StartChildProcess(const std::filesystem::path& program,
                                                const std::vector<std::string>& arguments,
                                                const std::filesystem::path& folder,
                                                const std::filesystem::path& output) {
  std::wstring line;
  AppendArgument(line, program.wstring());
  for (const std::string& argument : arguments) AppendArgument(line, Utf8ToWide(argument));

  // Standard input at its end from the start: no question of a run can wait for an answer.
  const Handle in(Inheritable(L"NUL", GENERIC_READ, OPEN_EXISTING));
  if (!in) Fail("NUL");
  const std::wstring outPath = output.empty() ? L"NUL" : output.wstring();
  const Handle out(Inheritable(outPath.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS));
  if (!out) Fail(output.empty() ? "NUL" : output.string());

  HANDLE inherited[] = {in.get(), out.get()};
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> storage(size);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
  if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size)) Fail("attributes");
  if (!UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                 sizeof inherited, nullptr, nullptr)) {
    DeleteProcThreadAttributeList(attributes);
    Fail("attributes");
  }

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = in.get();
  startup.StartupInfo.hStdOutput = out.get();
  startup.StartupInfo.hStdError = out.get();
  startup.lpAttributeList = attributes;
  PROCESS_INFORMATION started{};
  // Started suspended, so that it is in the job before it runs a single instruction.
  const DWORD flags = CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT |
                      EXTENDED_STARTUPINFO_PRESENT | CREATE_SUSPENDED;
  const BOOL ok =
      CreateProcessW(program.wstring().c_str(), line.data(), nullptr, nullptr, TRUE, flags, nullptr,
                     folder.wstring().c_str(), &startup.StartupInfo, &started);
  const DWORD error = GetLastError();
  DeleteProcThreadAttributeList(attributes);
  if (!ok) {
    SetLastError(error);
    Fail(program.string());
  }
  HANDLE job = KillWithServiceJob();
  if (job && !AssignProcessToJobObject(job, started.hProcess)) {
    CloseHandle(job);
    job = nullptr;
  }
  ResumeThread(started.hThread);
  CloseHandle(started.hThread);
  return std::make_unique<WindowsChild>(started.hProcess, job);
}

}  // namespace zelmo::service

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string_view>
#include <vector>

#include "base/io.h"
#include "platform/os_error.h"
#include "platform/unique_handle_win.h"
#include "shell.h"
#include "text/utf8.h"

namespace sorvane::peer {
namespace {

std::string last_error_text(const char* what) {
  return std::string(what) + ": " + os_error(static_cast<int>(GetLastError())).text;
}

struct Pipe {
  UniqueHandle read_end;
  UniqueHandle write_end;  // inherited by the command
};

Result<Pipe, std::string> make_pipe() {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return fail(last_error_text("CreatePipe"));
  Pipe pipe{UniqueHandle(read_end), UniqueHandle(write_end)};
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  return pipe;
}

Result<UniqueHandle, std::string> open_null_input() {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);
  if (nul == INVALID_HANDLE_VALUE) return fail(last_error_text("NUL"));
  return UniqueHandle(nul);
}

std::wstring to_wide(std::string_view utf8) {
  const std::u16string wide = text::utf8_to_utf16(utf8);
  return std::wstring(wide.begin(), wide.end());
}

// The peer's environment block with `variables` set: "NAME=value" strings,
// each ending with a null, and one more null at the end.
std::wstring environment_block(const ShellVariables& variables) {
  std::wstring block;
  wchar_t* own = GetEnvironmentStringsW();
  for (const wchar_t* entry = own; entry != nullptr && *entry != L'\0';
       entry += std::wcslen(entry) + 1) {
    const std::wstring_view text(entry);
    // Names of variables the system keeps for drives ("=C:") start with "=".
    const std::wstring_view name = text.substr(0, text.find(L'=', 1));
    const bool replaced =
        std::any_of(variables.begin(), variables.end(), [&](const auto& variable) {
          return _wcsicmp(std::wstring(name).c_str(), to_wide(variable.first).c_str()) == 0;
        });
    if (!replaced) block.append(text).push_back(L'\0');
  }
  if (own != nullptr) FreeEnvironmentStringsW(own);
  for (const auto& [name, value] : variables) {
    block.append(to_wide(name)).append(L"=").append(to_wide(value)).push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

// A job that ends every process in it when its last handle closes: the
// command's, so that stopping it reaches every process it started, and a
// peer that ends takes its commands with it. None where the system refuses
// one; then only the shell itself can be ended.
UniqueHandle make_job() {
  UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job.valid() && !SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                              sizeof limits)) {
    job.reset();
  }
  return job;
}

// A command that ended by itself leaves what it started in the background
// running, as on POSIX: the job lets them be when it closes.
void let_job_go(const UniqueHandle& job) {
  if (!job.valid()) return;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
}

// Starts the command suspended, so that it is in the job before it can start
// anything else; a job it cannot join is dropped.
Result<UniqueHandle, std::string> spawn(const std::string& command, const ShellVariables& variables,
                                        const UniqueHandle& input, const Pipe& out, const Pipe& err,
                                        UniqueHandle& job) {
  // /s keeps everything between the outer quotes as the command, verbatim.
  std::wstring line = L"cmd.exe /d /s /c \"" + to_wide(command) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.get();
  startup.hStdOutput = out.write_end.get();
  startup.hStdError = err.write_end.get();
  PROCESS_INFORMATION process{};
  const auto home = home_directory();
  const wchar_t* directory = home ? home->c_str() : nullptr;
  std::wstring environment = environment_block(variables);
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                      CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED,
                      environment.data(), directory, &startup, &process)) {
    return fail(last_error_text("cannot start cmd.exe"));
  }
  UniqueHandle thread(process.hThread);
  UniqueHandle started(process.hProcess);
  if (job.valid() && !AssignProcessToJobObject(job.get(), started.get())) job.reset();
  ResumeThread(thread.get());
  return started;
}

// How often a command that writes nothing looks at its client.
constexpr DWORD CLIENT_CHECK_MS = 5;

bool client_hung_up(ClientEnd* client) { return client != nullptr && client->hung_up(); }

// Polls both pipes (anonymous pipes cannot be waited on) until both are
// closed; false when the sink gave up or the client hung up.
bool pump(UniqueHandle& out, UniqueHandle& err, const ChunkSink& sink, ClientEnd* client) {
  std::vector<std::uint8_t> buffer(MAX_CHUNK);
  while (out.valid() || err.valid()) {
    if (client_hung_up(client)) return false;
    bool moved = false;
    for (UniqueHandle* pipe : {&out, &err}) {
      if (!pipe->valid()) continue;
      DWORD available = 0;
      if (!PeekNamedPipe(pipe->get(), nullptr, 0, nullptr, &available, nullptr)) {
        pipe->reset();  // broken: the command and its children have closed it
        continue;
      }
      if (available == 0) continue;
      DWORD got = 0;
      const DWORD want = available < buffer.size() ? available : static_cast<DWORD>(buffer.size());
      if (!ReadFile(pipe->get(), buffer.data(), want, &got, nullptr) || got == 0) {
        pipe->reset();
        continue;
      }
      moved = true;
      const auto kind = pipe == &out ? FrameKind::Stdout : FrameKind::Stderr;
      if (!sink(kind, ByteSpan(buffer.data(), got))) return false;
    }
    if (!moved) Sleep(CLIENT_CHECK_MS);
  }
  return true;
}

// Waits for the command to end; false when the client hung up first.
bool wait_while_client_stays(const UniqueHandle& process, ClientEnd* client) {
  const DWORD pause = client != nullptr ? CLIENT_CHECK_MS : INFINITE;
  while (WaitForSingleObject(process.get(), pause) == WAIT_TIMEOUT) {
    if (client_hung_up(client)) return false;
  }
  return true;
}

}  // namespace

Result<int, ShellError> run_shell(const std::string& command, const ShellVariables& variables,
                                  const ChunkSink& sink, ClientEnd* client) {
  auto input = open_null_input();
  if (!input) return fail(ShellError{std::move(input).error()});
  auto out = make_pipe();
  if (!out) return fail(ShellError{std::move(out).error()});
  auto err = make_pipe();
  if (!err) return fail(ShellError{std::move(err).error()});
  UniqueHandle job = make_job();
  auto process = spawn(command, variables, *input, *out, *err, job);
  if (!process) return fail(ShellError{std::move(process).error()});
  out->write_end.reset();
  err->write_end.reset();

  if (!pump(out->read_end, err->read_end, sink, client) ||
      !wait_while_client_stays(*process, client)) {
    if (job.valid()) TerminateJobObject(job.get(), 1);
    TerminateProcess(process->get(), 1);
    WaitForSingleObject(process->get(), INFINITE);
    return fail(ShellError{"the client went away", true});
  }
  let_job_go(job);
  DWORD code = 0;
  GetExitCodeProcess(process->get(), &code);
  return static_cast<int>(code);
}

// The jobs end their commands as the peer's handles close.
void end_running_commands() noexcept {}

std::optional<std::filesystem::path> home_directory() {
  wchar_t buffer[MAX_PATH * 2];
  const DWORD length = GetEnvironmentVariableW(L"USERPROFILE", buffer, MAX_PATH * 2);
  if (length == 0 || length >= MAX_PATH * 2) return std::nullopt;
  return std::filesystem::path(std::wstring(buffer, length));
}

}  // namespace sorvane::peer

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

Result<UniqueHandle, std::string> spawn(const std::string& command, const ShellVariables& variables,
                                        const UniqueHandle& input, const Pipe& out,
                                        const Pipe& err) {
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
                      CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT, environment.data(), directory,
                      &startup, &process)) {
    return fail(last_error_text("cannot start cmd.exe"));
  }
  CloseHandle(process.hThread);
  return UniqueHandle(process.hProcess);
}

// Polls both pipes (anonymous pipes cannot be waited on) until both are
// closed; false when the sink gave up.
bool pump(UniqueHandle& out, UniqueHandle& err, const ChunkSink& sink) {
  std::vector<std::uint8_t> buffer(MAX_CHUNK);
  while (out.valid() || err.valid()) {
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
    if (!moved) Sleep(5);
  }
  return true;
}

}  // namespace

Result<int, std::string> run_shell(const std::string& command, const ShellVariables& variables,
                                   const ChunkSink& sink) {
  auto input = open_null_input();
  if (!input) return fail(std::move(input).error());
  auto out = make_pipe();
  if (!out) return fail(std::move(out).error());
  auto err = make_pipe();
  if (!err) return fail(std::move(err).error());
  auto process = spawn(command, variables, *input, *out, *err);
  if (!process) return fail(std::move(process).error());
  out->write_end.reset();
  err->write_end.reset();

  if (!pump(out->read_end, err->read_end, sink)) {
    TerminateProcess(process->get(), 1);
    WaitForSingleObject(process->get(), INFINITE);
    return fail(std::string("the client went away"));
  }
  WaitForSingleObject(process->get(), INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process->get(), &code);
  return static_cast<int>(code);
}

std::optional<std::filesystem::path> home_directory() {
  wchar_t buffer[MAX_PATH * 2];
  const DWORD length = GetEnvironmentVariableW(L"USERPROFILE", buffer, MAX_PATH * 2);
  if (length == 0 || length >= MAX_PATH * 2) return std::nullopt;
  return std::filesystem::path(std::wstring(buffer, length));
}

}  // namespace sorvane::peer

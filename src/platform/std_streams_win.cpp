#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <vector>

#include "platform/os_error.h"
#include "platform/std_streams.h"
#include "text/utf8.h"

namespace sorvane {
namespace {

HANDLE std_handle(StdStream stream) {
  return GetStdHandle(stream == StdStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool is_usable(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

bool is_console(HANDLE handle) {
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != 0;
}

bool is_msys_pty(HANDLE handle) {
  if (GetFileType(handle) != FILE_TYPE_PIPE) return false;
  // FILE_NAME_INFO ends in a variable-length name; DWORDs keep it aligned.
  std::vector<DWORD> buffer((sizeof(FILE_NAME_INFO) + MAX_PATH * sizeof(WCHAR)) / sizeof(DWORD) +
                            1);
  const auto byte_size = static_cast<DWORD>(buffer.size() * sizeof(DWORD));
  if (!GetFileInformationByHandleEx(handle, FileNameInfo, buffer.data(), byte_size)) return false;
  const auto* info = reinterpret_cast<const FILE_NAME_INFO*>(buffer.data());
  const std::size_t max_units = (byte_size - offsetof(FILE_NAME_INFO, FileName)) / sizeof(WCHAR);
  const std::size_t units = std::min<std::size_t>(info->FileNameLength / sizeof(WCHAR), max_units);
  return is_msys_pty_pipe_name({reinterpret_cast<const char16_t*>(info->FileName), units});
}

IoError last_os_error() { return os_error(static_cast<int>(GetLastError())); }

// A console shows UTF-16 text correctly whatever its code page.
IoResult<void> write_console(HANDLE handle, ByteSpan bytes) {
  const std::u16string text = text::utf8_to_utf16(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  constexpr std::size_t CHUNK = 8192;  // old consoles refuse very large writes
  std::size_t done = 0;
  while (done < text.size()) {
    std::size_t count = std::min(CHUNK, text.size() - done);
    // Never split a surrogate pair between two calls.
    const char16_t last = text[done + count - 1];
    if (count > 1 && done + count < text.size() && last >= 0xD800 && last <= 0xDBFF) --count;
    DWORD written = 0;
    if (!WriteConsoleW(handle, text.data() + done, static_cast<DWORD>(count), &written, nullptr)) {
      return fail(last_os_error());
    }
    if (written == 0) return fail(IoError{IoErrorKind::WriteZero, "failed to write whole buffer"});
    done += written;
  }
  return {};
}

IoResult<void> write_file(HANDLE handle, ByteSpan bytes) {
  while (!bytes.empty()) {
    const auto count = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data(), count, &written, nullptr)) return fail(last_os_error());
    if (written == 0) return fail(IoError{IoErrorKind::WriteZero, "failed to write whole buffer"});
    bytes = bytes.subspan(written);
  }
  return {};
}

IoResult<std::string> read_console_to_end(HANDLE handle, std::size_t limit) {
  std::u16string text;
  char16_t buffer[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadConsoleW(handle, buffer, static_cast<DWORD>(std::size(buffer)), &got, nullptr)) {
      return fail(last_os_error());
    }
    const std::u16string_view chunk(buffer, got);
    // Ctrl+Z is how a console user ends the input.
    const auto end_mark = chunk.find(u'\x1A');
    text.append(chunk.substr(0, end_mark));
    // Each UTF-16 unit is at least one byte of UTF-8.
    if (text.size() > limit) return fail(longer_than(limit));
    if (got == 0 || end_mark != std::u16string_view::npos) break;
  }
  auto utf8 = text::utf16_to_utf8(text);
  if (!utf8) return fail(IoError{IoErrorKind::InvalidData, "stream did not contain valid UTF-8"});
  if (utf8->size() > limit) return fail(longer_than(limit));
  return std::move(*utf8);
}

}  // namespace

bool is_terminal(StdStream stream) {
  const HANDLE handle = std_handle(stream);
  if (!is_usable(handle)) return false;
  return is_console(handle) || is_msys_pty(handle);
}

bool enable_colour(StdStream stream) {
  const HANDLE handle = std_handle(stream);
  if (!is_usable(handle)) return false;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
  }
  return is_msys_pty(handle);  // a terminal emulator of its own
}

StdOutputStream::StdOutputStream(StdStream stream) : stream_(stream) {}

IoResult<void> StdOutputStream::write_all(ByteSpan bytes) {
  const HANDLE handle = std_handle(stream_);
  if (!is_usable(handle)) return {};  // no such stream (detached process): nowhere to write
  if (bytes.empty()) return {};
  return is_console(handle) ? write_console(handle, bytes) : write_file(handle, bytes);
}

IoResult<std::size_t> StdInputStream::read_some(MutableByteSpan buffer) {
  const HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
  if (!is_usable(handle)) return std::size_t{0};
  DWORD got = 0;
  const auto count = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), 1u << 30));
  if (ReadFile(handle, buffer.data(), count, &got, nullptr)) return std::size_t{got};
  if (GetLastError() == ERROR_BROKEN_PIPE) return std::size_t{0};  // the writer closed its end
  return fail(last_os_error());
}

IoResult<std::string> read_stdin_to_end(std::size_t limit) {
  const HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
  if (!is_usable(handle)) return std::string();
  if (is_console(handle)) return read_console_to_end(handle, limit);
  StdInputStream in;
  return read_to_end(in, limit);
}

}  // namespace sorvane

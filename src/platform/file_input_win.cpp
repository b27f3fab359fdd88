#include <windows.h>

#include <algorithm>

#include "platform/file_input.h"
#include "platform/os_error.h"
#include "platform/unique_handle_win.h"

namespace sorvane {
namespace {

IoError last_error() { return os_error(static_cast<int>(GetLastError())); }

class FileInput final : public ByteReader {
 public:
  explicit FileInput(UniqueHandle file) : file_(std::move(file)) {}
  IoResult<std::size_t> read_some(MutableByteSpan buffer) override {
    const auto wanted = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), 1u << 30));
    DWORD got = 0;
    if (ReadFile(file_.get(), buffer.data(), wanted, &got, nullptr)) return std::size_t{got};
    if (GetLastError() == ERROR_BROKEN_PIPE) return std::size_t{0};  // a pipe's writer closed it
    return fail(last_error());
  }

 private:
  UniqueHandle file_;
};

}  // namespace

IoResult<std::unique_ptr<ByteReader>> open_for_reading(const NativePath& path) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return fail(last_error());
  return std::unique_ptr<ByteReader>(std::make_unique<FileInput>(std::move(file)));
}

}  // namespace sorvane

#include <windows.h>

#include <string>

#include "platform/os_error.h"
#include "platform/temp_file.h"
#include "platform/unique_handle_win.h"

namespace sorvane {
namespace {

IoError last_error() { return os_error(static_cast<int>(GetLastError())); }

OVERLAPPED at(std::uint64_t offset) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  where.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return where;
}

// One call moves at most this much, whatever the span's size.
DWORD piece(std::size_t size) {
  constexpr std::size_t LARGEST = std::size_t{1} << 30;
  return static_cast<DWORD>(size < LARGEST ? size : LARGEST);
}

class DeletedOnClose final : public TempFile {
 public:
  explicit DeletedOnClose(UniqueHandle file) : file_(std::move(file)) {}

  IoResult<void> write_at(std::uint64_t offset, ByteSpan bytes) override {
    while (!bytes.empty()) {
      OVERLAPPED where = at(offset);
      DWORD put = 0;
      if (!WriteFile(file_.get(), bytes.data(), piece(bytes.size()), &put, &where)) {
        return fail(last_error());
      }
      if (put == 0) return fail(IoError{IoErrorKind::WriteZero, "failed to write whole buffer"});
      bytes = bytes.subspan(put);
      offset += put;
    }
    return {};
  }

  IoResult<void> read_at(std::uint64_t offset, MutableByteSpan bytes) override {
    while (!bytes.empty()) {
      OVERLAPPED where = at(offset);
      DWORD got = 0;
      if (!ReadFile(file_.get(), bytes.data(), piece(bytes.size()), &got, &where) &&
          GetLastError() != ERROR_HANDLE_EOF) {
        return fail(last_error());
      }
      if (got == 0)
        return fail(IoError{IoErrorKind::UnexpectedEof, "the temporary file is shorter"});
      bytes = bytes.subspan(got);
      offset += got;
    }
    return {};
  }

 private:
  UniqueHandle file_;
};

}  // namespace

IoResult<std::unique_ptr<TempFile>> create_temp_file() {
  wchar_t folder[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) return fail(last_error());
  // Reserves a unique name (the call creates the file empty) for the file
  // opened below, which takes the name with it when it closes.
  wchar_t name[MAX_PATH];
  if (GetTempFileNameW(folder, L"sor", 0, name) == 0) return fail(last_error());
  UniqueHandle file(CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                nullptr));
  if (!file.valid()) {
    const IoError error = last_error();
    DeleteFileW(name);
    return fail(error);
  }
  return std::unique_ptr<TempFile>(std::make_unique<DeletedOnClose>(std::move(file)));
}

}  // namespace sorvane

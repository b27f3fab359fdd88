// POSIX: native strings are bytes, normally UTF-8, but not necessarily so.
#include "text/native_string.h"

#include "text/utf8.h"

namespace sorvane {

std::optional<std::string> native_to_utf8(NativeStringView native) {
  if (!text::is_valid_utf8(native)) return std::nullopt;
  return std::string(native);
}

std::string native_to_utf8_lossy(NativeStringView native) { return text::utf8_lossy(native); }

NativeString utf8_to_native(std::string_view utf8) { return NativeString(utf8); }

NativeString argument_to_native(std::string_view argument) { return NativeString(argument); }

std::string native_to_argument(NativeStringView native) { return std::string(native); }

}  // namespace sorvane

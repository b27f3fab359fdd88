// Windows: native strings are UTF-16 (wchar_t), possibly with unpaired
// surrogates; the text helpers work on char16_t, which has the same layout.
#include "text/native_string.h"

#include "text/utf8.h"

namespace sorvane {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::u16string_view as_utf16(NativeStringView native) {
  return {reinterpret_cast<const char16_t*>(native.data()), native.size()};
}

NativeString from_utf16(std::u16string_view utf16) {
  return NativeString(reinterpret_cast<const wchar_t*>(utf16.data()), utf16.size());
}

}  // namespace

std::optional<std::string> native_to_utf8(NativeStringView native) {
  return text::utf16_to_utf8(as_utf16(native));
}

std::string native_to_utf8_lossy(NativeStringView native) {
  return text::utf16_to_utf8_lossy(as_utf16(native));
}

NativeString utf8_to_native(std::string_view utf8) { return from_utf16(text::utf8_to_utf16(utf8)); }

NativeString argument_to_native(std::string_view argument) {
  return from_utf16(text::wtf8_to_utf16(argument));
}

std::string native_to_argument(NativeStringView native) {
  return text::utf16_to_wtf8(as_utf16(native));
}

}  // namespace sorvane

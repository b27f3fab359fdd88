// The platform's own string form for paths, environment values and
// command-line arguments: UTF-16 on Windows, bytes elsewhere.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sorvane {

#ifdef _WIN32
using NativeChar = wchar_t;
#else
using NativeChar = char;
#endif
using NativeString = std::basic_string<NativeChar>;
using NativeStringView = std::basic_string_view<NativeChar>;

// A local path as the platform holds it; need not be valid Unicode.
using NativePath = NativeString;

// The text of a native string when it is valid Unicode (UTF-8 bytes on
// POSIX, UTF-16 without unpaired surrogates on Windows), else nothing.
std::optional<std::string> native_to_utf8(NativeStringView native);

// The text of a native string with every invalid part shown as U+FFFD.
std::string native_to_utf8_lossy(NativeStringView native);

// UTF-8 text as a native string (on POSIX the same bytes).
NativeString utf8_to_native(std::string_view utf8);

// A command-line argument in the parser's byte form (WTF-8 on Windows, so
// unpaired surrogates survive) back to the native form without loss.
NativeString argument_to_native(std::string_view argument);

// A native command-line argument into the parser's byte form.
std::string native_to_argument(NativeStringView native);

}  // namespace sorvane

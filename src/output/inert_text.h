// Text that the tool did not write (host fields, remote file names, the
// desktop application's messages, audit lines, a command echoed back), made
// inert for a terminal: nothing in it can move the cursor, clear the screen,
// set the clipboard, change colours or reverse what follows it.
//
// Everything shows as it is except these, which become visible escapes:
//   \xHH    a C0 control other than tab, DEL, and each byte of ill-formed UTF-8
//   \uHHHH  a C1 control (U+0080 to U+009F) and the bidirectional controls
//           U+202A to U+202E and U+2066 to U+2069
//   \\      a backslash that would otherwise read as the start of an escape:
//           one followed by a backslash, an x, a u or an escape
// Hex digits are lower case. So the result is valid UTF-8 without controls
// (tab aside), and two different texts never look the same: every escape
// reads back one way, while a lone backslash, as in a Windows path, stays a
// single one.
#pragma once

#include <string>
#include <string_view>

#include "protocol/error_code.h"

namespace sorvane {

void append_inert(std::string& shown, std::string_view outside);
std::string inert(std::string_view outside);

// "sorvane: [code] message" and a line feed, the message made inert: it
// may carry the desktop application's words or a remote path.
std::string inert_error_line(const ToolError& error);

}  // namespace sorvane

// Text that the tool did not write (host fields, remote file names, the
// desktop application's messages, audit lines, a command echoed back), made
// inert for a terminal: nothing in it can move the cursor, clear the screen,
// set the clipboard, change colours, reverse what follows it, break its line
// or hide in it.
//
// Everything shows as it is except these, which become visible escapes:
//   \xHH        a C0 control (tab included), DEL, and each byte of ill-formed
//               UTF-8
//   \uHHHH      a C1 control (U+0080 to U+009F), a format character (general
//               category Cf: zero-width characters, bidirectional marks and
//               controls, the soft hyphen) and the line and paragraph
//               separators U+2028 and U+2029
//   \UHHHHHHHH  the same above U+FFFF (the tag characters U+E0000 to U+E007F)
//   \\          a backslash that would otherwise read as the start of an
//               escape: one followed by a backslash, an x, a u, a U or an
//               escape
// Hex digits are lower case. So the result is valid UTF-8 on one line without
// controls, and two different texts never look the same: every escape reads
// back one way, while a lone backslash, as in a Windows path, stays a single
// one. Every text shown this way is one field on one line, so a tab, which
// would forge a table's columns, is escaped too.
#pragma once

#include <string>
#include <string_view>

#include "protocol/error_code.h"

namespace sorvane {

void append_inert(std::string& shown, std::string_view outside);
std::string inert(std::string_view outside);

// The same, for a dialog that neither wraps nor scrolls: a run of more than
// 8 White_Space characters shows as its length ("[2000 spaces]", "[300 tabs]",
// "[12 white-space characters]" for a mix), so that nothing can hide past the
// dialog's edge behind it.
std::string inert_counting_blank_runs(std::string_view outside);

// "sorvane: [code] message" and a line feed, the message made inert: it
// may carry the desktop application's words or a remote path.
std::string inert_error_line(const ToolError& error);

}  // namespace sorvane

// Scripted replies: a list of steps that the peer replays on every
// connection, so tests can make the peer send exactly the bytes they need,
// broken frames included.
//
// Script format, one step per line; blank lines and lines starting with '#'
// are ignored; the text after the keyword starts after exactly one space:
//
//   json <text>                a Json frame whose payload is <text>, verbatim
//   stdout <escaped>           a Stdout frame
//   stderr <escaped>           a Stderr frame
//   frame <kind> <len> <escaped>
//                              a frame with any kind byte (hex, e.g. 4A or 0x6a)
//                              and a declared length (decimal, or '-' for the
//                              payload's real length) that may disagree with
//                              the payload that follows it
//   raw <escaped>              bytes straight onto the connection
//   pause <ms>                 sleep
//   close                      close the connection now, reading nothing more
//   hold                       keep the connection open until the client closes it
//   stdout-repeat <size> <count>
//                              <count> Stdout frames of <size> bytes of a pattern
//   hosts-repeat <n>           a hosts reply listing <n> generated hosts
//
// <escaped> text allows \n \r \t \0 \\ and \xHH, so split UTF-8 sequences and
// invalid bytes can be written. After the last step the connection is closed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/io.h"
#include "base/result.h"

namespace sorvane::peer {

struct Step {
  enum class Op {
    JsonReply,
    Stdout,
    Stderr,
    Frame,
    Raw,
    Pause,
    Close,
    Hold,
    StdoutRepeat,
    HostsRepeat
  };
  Op op = Op::Raw;
  std::string bytes;         // payload of JsonReply/Stdout/Stderr/Frame/Raw
  std::uint8_t kind = 0;     // Frame
  std::uint32_t length = 0;  // Frame: declared length
  std::uint64_t size = 0;    // Pause: milliseconds; StdoutRepeat: frame size; HostsRepeat: hosts
  std::uint64_t count = 0;   // StdoutRepeat
};

using Script = std::vector<Step>;

// C-style escapes into bytes; the error names the faulty escape.
Result<std::string, std::string> unescape(std::string_view text);

// The whole script, or "line N: what is wrong".
Result<Script, std::string> parse_script(std::string_view text);

// Replays the steps on one connection. Hold reads until the client closes.
IoResult<void> run_script(const Script& script, ByteReader& reader, ByteWriter& writer);

}  // namespace sorvane::peer

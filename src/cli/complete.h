// Shell completion: what to offer for the word under the cursor. The shell
// scripts only pass the words in and hand the lines back to their shell.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/io.h"
#include "cli/command_line.h"
#include "protocol/reply.h"
#include "text/native_string.h"

namespace sorvane {

// The hidden first argument through which the shell scripts ask:
// `sorvane __complete WORD...`, program name first, cursor word last. No
// help text shows it, and nobody types it.
inline constexpr std::string_view COMPLETION_ENTRY = "__complete";

struct Candidate {
  std::string value;
  std::string description;
};

struct Completion {
  std::vector<Candidate> candidates;
  bool local_paths = false;  // the shell offers local file names itself
};

using HostSource = std::function<std::vector<HostInfo>()>;

// What to offer for the last of `words` (program name first; the last word is
// the one being completed, possibly empty), given the command line's shape.
// `hosts` is asked only where a host ID goes.
Completion complete(std::span<const std::string> words, std::span<const CommandShape> shapes,
                    const HostSource& hosts);

// One line per candidate, "value<TAB>description"; the single line ":files"
// when the shell should offer local paths.
std::string render(const Completion& completion);

// The hosts of the running desktop application; none when it is not
// running, busy, refuses or answers with anything but a host list.
std::vector<HostInfo> hosts_from(ByteReader& from_peer, ByteWriter& to_peer);

// Runs `sorvane __complete WORD...` (`words` without the program path and
// the entry word). Always status 0; prints nothing unless it finished, and
// gives the desktop application about a second.
std::uint32_t run_completion(std::span<const NativeString> words);

}  // namespace sorvane

// The `list` result: an aligned table for people, or JSON for programs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/io.h"
#include "output/console_sink.h"
#include "protocol/reply.h"

namespace sorvane {

// The name shown for an operating-system key ("rhel" -> "Red Hat"); empty
// for anything that is not exactly one of the known keys, case included.
std::string_view os_display_name(std::string_view key);

// "user@host:port", as the table shows it.
std::string host_address(const HostInfo& host);

// JSON on `out` when streams.json is set; otherwise the table on `out`, or
// "no matching host" on `err` for an empty list. Each stream gets one write,
// whose failure is returned.
IoResult<void> print_hosts(const std::vector<HostInfo>& hosts, OutputStreams& streams);

}  // namespace sorvane

// The replies of the desktop application, decoded strictly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/result.h"
#include "protocol/error_code.h"

namespace sorvane {

struct HostInfo {
  std::string id;
  std::string name;
  std::optional<std::string> group;
  std::string user;
  std::string host;
  std::uint16_t port = 0;
  std::optional<std::string> os;
};

struct TransferCounters {
  std::uint64_t files = 0;
  std::uint64_t total_files = 0;
  std::uint64_t bytes = 0;
  std::uint64_t total_bytes = 0;
};

struct TransferSummary {
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  std::uint64_t skipped = 0;
  std::uint64_t failed = 0;
  std::vector<std::string> failures;
};

struct Reply {
  struct Hosts {
    std::vector<HostInfo> hosts;
  };
  struct Progress {
    TransferCounters counters;
  };
  struct TransferDone {
    TransferSummary summary;
  };
  struct Exit {
    std::int32_t code = 0;
  };
  struct Activated {};
  struct Error {
    ErrorCode code;
    std::string message;
  };

  std::variant<Hosts, Progress, TransferDone, Exit, Activated, Error> value;
};

// One JSON value (whitespace around it allowed) into a Reply; the error is a
// one-line description naming the offending key, tag or value and where.
Result<Reply, std::string> decode_reply(std::string_view payload);

}  // namespace sorvane

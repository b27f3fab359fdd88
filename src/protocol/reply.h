// The replies of the desktop application, decoded strictly.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/result.h"
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

  friend bool operator==(const HostInfo&, const HostInfo&) = default;
};

// A host as JSON, for the decoder, the printed JSON and the MCP result and
// schema alike: the members in the order the tool writes them, each with the
// HostInfo member it stands for, whose type is its kind: text, optional text
// (absent or null gives none) or port.
struct HostField {
  std::string_view key;
  std::variant<std::string HostInfo::*, std::optional<std::string> HostInfo::*,
               std::uint16_t HostInfo::*>
      member;
};

inline constexpr std::array<HostField, 7> HOST_FIELDS = {{
    {"id", &HostInfo::id},
    {"name", &HostInfo::name},
    {"group", &HostInfo::group},
    {"user", &HostInfo::user},
    {"host", &HostInfo::host},
    {"port", &HostInfo::port},
    {"os", &HostInfo::os},
}};

struct TransferCounters {
  std::uint64_t files = 0;
  std::uint64_t total_files = 0;
  std::uint64_t bytes = 0;
  std::uint64_t total_bytes = 0;

  friend bool operator==(const TransferCounters&, const TransferCounters&) = default;
};

struct TransferSummary {
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  std::uint64_t skipped = 0;
  std::uint64_t failed = 0;
  std::vector<std::string> failures;

  friend bool operator==(const TransferSummary&, const TransferSummary&) = default;
};

struct Reply {
  struct Hosts {
    std::vector<HostInfo> hosts;
    friend bool operator==(const Hosts&, const Hosts&) = default;
  };
  struct Progress {
    TransferCounters counters;
    friend bool operator==(const Progress&, const Progress&) = default;
  };
  struct TransferDone {
    TransferSummary summary;
    friend bool operator==(const TransferDone&, const TransferDone&) = default;
  };
  struct Exit {
    std::int32_t code = 0;
    friend bool operator==(const Exit&, const Exit&) = default;
  };
  struct Activated {
    friend bool operator==(const Activated&, const Activated&) = default;
  };
  struct Error {
    ErrorCode code;
    std::string message;
    friend bool operator==(const Error&, const Error&) = default;
  };

  std::variant<Hosts, Progress, TransferDone, Exit, Activated, Error> value;

  friend bool operator==(const Reply&, const Reply&) = default;
};

// One JSON value (whitespace around it allowed) into a Reply; the error is a
// one-line description naming the offending key, tag or value and where.
Result<Reply, std::string> decode_reply(std::string_view payload);

}  // namespace sorvane

// The one request of a run and its compact JSON envelope.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "base/result.h"
#include "text/native_string.h"

namespace sorvane {

inline constexpr int PROTOCOL_VERSION = 2;

struct Request {
  struct List {
    std::optional<std::string> query;
  };
  struct Exec {
    std::string host;
    std::string command;
  };
  struct Upload {
    std::string host;
    NativePath source;  // absolute
    std::string destination;
  };
  struct Download {
    std::string host;
    std::string source;
    NativePath destination;  // absolute
  };
  struct Activate {};

  std::variant<List, Exec, Upload, Download, Activate> member;
};

// {"version":2,"request":{...}} as compact UTF-8 JSON without a trailing
// newline; fails with "path contains invalid UTF-8 characters" for a local
// path that is not valid Unicode.
Result<std::string, std::string> encode_request(const Request& request);

// An exec request's envelope for many hosts, with the command encoded once:
// `before_host`, the host as a JSON string, then `after_host`. Together they
// are what encode_request gives for that host.
struct ExecEnvelope {
  std::string before_host;
  std::string after_host;  // holds the command

  // The bytes of the whole envelope for `host`.
  std::size_t size_for(std::string_view host) const;
};

ExecEnvelope encode_exec_envelope(std::string_view command);

}  // namespace sorvane

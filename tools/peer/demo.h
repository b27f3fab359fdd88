// The stand-in's own behaviour ("demo" mode): hosts from a file, commands
// run with the local shell, transfers as local copies.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "base/io.h"
#include "base/result.h"
#include "protocol/error_code.h"
#include "shell.h"
#include "wire.h"

namespace sorvane::peer {

struct ListRequest {
  std::optional<std::string> query;
};
struct ExecRequest {
  std::string host;
  std::string command;
};
struct TransferRequest {
  bool upload = true;
  std::string host;
  std::string source;
  std::string destination;
};
struct ActivateRequest {};

using DemoRequest = std::variant<ListRequest, ExecRequest, TransferRequest, ActivateRequest>;

struct RequestError {
  ErrorCode code;
  std::string message;
};

// The envelope {"version":2,"request":{...}}: a version other than 2 is a
// version_mismatch, anything else that is not a well-formed request a
// bad_request.
Result<DemoRequest, RequestError> decode_request(std::string_view payload);

// Answers one request on the connection. A command runs only as long as
// `client`, when given, stays connected.
IoResult<void> serve_demo(std::string_view payload, const Json& hosts, ByteWriter& out,
                          ClientEnd* client = nullptr);

}  // namespace sorvane::peer

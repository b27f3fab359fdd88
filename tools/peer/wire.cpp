#include "wire.h"

#include "ipc/frame.h"

namespace sorvane::peer {

std::string encode_json(const Json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

IoResult<void> send_json(ByteWriter& writer, const Json& reply) {
  const std::string payload = encode_json(reply);
  return write_frame(writer, FrameKind::Json, as_bytes(payload));
}

Json error_reply(ErrorCode code, std::string_view message) {
  Json reply;
  reply["type"] = "error";
  reply["code"] = std::string(code_word(code));
  reply["message"] = std::string(message);
  return reply;
}

}  // namespace sorvane::peer

#include "session/operation.h"

#include "ipc/frame.h"
#include "platform/absolute_path.h"
#include "session/conversation.h"
#include "text/unicode.h"
#include "text/utf8.h"

namespace sorvane {
namespace {

constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";
constexpr std::string_view NOT_UTF8 = "stream did not contain valid UTF-8";

ToolError bad_request(std::string message) { return {ErrorCode::BadRequest, std::move(message)}; }

ToolError unreadable_input(std::string_view description) {
  return bad_request(std::string(messages::CANNOT_READ_STDIN) + std::string(description));
}

// In place: the command may be most of a frame, and a copy would hold it twice.
void crlf_to_lf(std::string& text) {
  auto kept = text.begin();
  for (auto at = text.begin(); at != text.end(); ++at) {
    if (*at == '\r' && at + 1 != text.end() && at[1] == '\n') continue;
    *kept++ = *at;
  }
  text.erase(kept, text.end());
}

Result<std::string, ToolError> command_source(const Operation::Exec& exec,
                                              const InputReader& read_input) {
  if (!exec.use_stdin) return exec.command.value_or(std::string());
  // More than one frame could never be sent: stop reading there.
  auto input = read_input(MAX_FRAME_LEN);
  if (!input && input.error().kind == IoErrorKind::InvalidInput)
    return fail(command_over_one_frame());
  if (!input) return fail(unreadable_input(input.error().text));
  if (!text::is_valid_utf8(*input)) return fail(unreadable_input(NOT_UTF8));
  return std::move(*input);
}

Result<Request, ToolError> build(Operation::List list, const InputReader&) {
  return Request{Request::List{std::move(list.query)}};
}

Result<Request, ToolError> build(Operation::Exec exec, const InputReader& read_input) {
  auto command = prepare_command(exec, read_input);
  if (!command) return fail(std::move(command).error());
  return Request{Request::Exec{std::move(exec.id), std::move(*command)}};
}

Result<Request, ToolError> build(Operation::Upload upload, const InputReader&) {
  auto source = absolute_local_path(upload.local);
  if (!source) return fail(std::move(source).error());
  return Request{
      Request::Upload{std::move(upload.id), std::move(*source), std::move(upload.remote)}};
}

Result<Request, ToolError> build(Operation::Download download, const InputReader&) {
  auto destination = absolute_local_path(download.local);
  if (!destination) return fail(std::move(destination).error());
  return Request{Request::Download{std::move(download.id), std::move(download.remote),
                                   std::move(*destination)}};
}

}  // namespace

Result<NativePath, ToolError> absolute_local_path(const NativePath& local) {
  auto absolute = make_absolute(local);
  if (absolute) return std::move(*absolute);
  return fail(bad_request(std::string(messages::CANNOT_RESOLVE_PATH) + native_to_utf8_lossy(local) +
                          std::string(messages::FULL_WIDTH_COLON) + absolute.error().text));
}

Result<std::string, ToolError> prepare_command(const Operation::Exec& exec,
                                               const InputReader& read_input) {
  auto command = command_source(exec, read_input);
  if (!command) return command;
  if (command->starts_with(BYTE_ORDER_MARK)) command->erase(0, BYTE_ORDER_MARK.size());
  crlf_to_lf(*command);
  if (text::trim_white_space(*command).empty())
    return fail(bad_request(std::string(messages::EMPTY_COMMAND)));
  return command;
}

Result<Request, ToolError> build_request(Operation operation, const InputReader& read_input) {
  return std::visit(
      [&read_input](auto&& member) {
        return build(std::forward<decltype(member)>(member), read_input);
      },
      std::move(operation.member));
}

}  // namespace sorvane

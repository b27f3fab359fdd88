#include "mcp/tool_result.h"

#include <type_traits>

namespace sorvane::mcp {
namespace {

Json value_json(const std::string& text) { return text; }
Json value_json(std::uint16_t port) { return port; }
Json value_json(const std::optional<std::string>& value) {
  return value ? Json(*value) : Json(nullptr);
}

Json host_json(const HostInfo& host) {
  Json json = Json::object();
  for (const HostField& field : HOST_FIELDS) {
    json[std::string(field.key)] =
        std::visit([&](auto member) { return value_json(host.*member); }, field.member);
  }
  return json;
}

Json summary_json(const TransferSummary& summary) {
  return {{"files", summary.files},
          {"bytes", summary.bytes},
          {"skipped", summary.skipped},
          {"failed", summary.failed},
          {"failures", summary.failures}};
}

// The structured result; null for an error, which has none.
Json structured_of(const ToolResult& result) {
  return std::visit(
      [](const auto& value) -> Json {
        using Value = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<Value, HostsOutcome>) {
          Json list = Json::array();
          for (const HostInfo& host : value.hosts) list.push_back(host_json(host));
          return {{"hosts", std::move(list)}};
        } else if constexpr (std::is_same_v<Value, ExecOutcome>) {
          return exec_json(value);
        } else if constexpr (std::is_same_v<Value, FleetExecOutcome>) {
          return value.structured;
        } else if constexpr (std::is_same_v<Value, TransferOutcome>) {
          return summary_json(value.summary);
        } else {
          return nullptr;
        }
      },
      result.value);
}

std::string text_of(const ToolResult& result, const Json& structured) {
  if (const auto* error = std::get_if<ToolError>(&result.value)) return error_line_text(*error);
  if (const auto* fleet = std::get_if<FleetExecOutcome>(&result.value)) return fleet->text;
  return dump(structured);
}

}  // namespace

bool is_error(const ToolResult& result) {
  if (std::holds_alternative<ToolError>(result.value)) return true;
  if (const auto* fleet = std::get_if<FleetExecOutcome>(&result.value)) return !fleet->any_ran;
  if (const auto* transfer = std::get_if<TransferOutcome>(&result.value)) {
    return transfer->summary.failed > 0;
  }
  return false;
}

bool timed_out(const ToolResult& result) {
  const auto* exec = std::get_if<ExecOutcome>(&result.value);
  return exec != nullptr && !exec->exit_code;
}

std::string result_text(const ToolResult& result) { return text_of(result, structured_of(result)); }

Json call_tool_result(const ToolResult& result) {
  if (const auto* asked = std::get_if<InputRequired>(&result.value)) {
    return {{"resultType", "input_required"},
            {"inputRequests", asked->requests},
            {"requestState", asked->state}};
  }
  Json structured = structured_of(result);
  Json reply;
  reply["content"] = Json::array({{{"type", "text"}, {"text", text_of(result, structured)}}});
  if (!std::holds_alternative<ToolError>(result.value)) {
    reply["structuredContent"] = std::move(structured);
  }
  reply["isError"] = is_error(result);
  return reply;
}

Json exec_json(const ExecOutcome& outcome) {
  Json json = {{"exit_code", outcome.exit_code ? Json(*outcome.exit_code) : Json(nullptr)},
               {"stdout", outcome.out.text},
               {"stderr", outcome.err.text},
               {"stdout_truncated", outcome.out.truncated},
               {"stderr_truncated", outcome.err.truncated},
               {"stdout_omitted", outcome.out.omitted},
               {"stderr_omitted", outcome.err.omitted}};
  if (!outcome.exit_code) json["timed_out"] = true;
  return json;
}

std::string error_line_text(const ToolError& error) {
  std::string line = format_error_line(error);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

std::string dump(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace sorvane::mcp

// The four tools as tools/list describes them: names, titles, descriptions,
// input and output schemas, annotations. Depends on no other part of the
// server, so that the command line and the tools can both name tools.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

namespace sorvane::mcp {

using Json = nlohmann::ordered_json;

enum class ToolId { ListHosts, Exec, Upload, Download };

inline constexpr std::array<ToolId, 4> ALL_TOOLS = {ToolId::ListHosts, ToolId::Exec, ToolId::Upload,
                                                    ToolId::Download};

// The longest time limit, the operator's or an agent's, in seconds: past a
// year is a typo, and far from where the clock's count would overflow.
inline constexpr std::uint64_t MAX_TIMEOUT_SECONDS = std::uint64_t{366} * 24 * 60 * 60;

std::optional<ToolId> find_tool(std::string_view name);
std::string_view tool_name(ToolId tool);

// The tools/list entry: name, title, description, input and output schemas,
// annotations.
Json describe_tool(ToolId tool);

// The arguments a tool takes, as JSON Schema: what its calls are checked by.
Json input_schema(ToolId tool);

}  // namespace sorvane::mcp

#include "mcp/tool_catalog.h"

#include <cstdint>
#include <string>
#include <variant>

#include "protocol/reply.h"

namespace sorvane::mcp {
namespace {

struct ToolEntry {
  ToolId id;
  std::string_view name;
  std::string_view title;
  std::string_view description;
};

constexpr std::array<ToolEntry, 4> TOOLS{{
    {ToolId::ListHosts, "list_hosts", "List saved hosts",
     "List the SSH hosts saved in Sorvane, optionally those matching a query. Each host's `id` is "
     "what the other tools take as `host`."},
    {ToolId::Exec, "exec", "Run a command on saved hosts",
     "Run one shell command on a saved host (`host`), or on several at once (`hosts`, or the "
     "hosts a `query` matches), and return the exit code, standard output and standard error. "
     "A non-zero exit code is a result, not a failure. The command gets no standard input. On "
     "several hosts the result has `results`, one per host, and `groups`: hosts with identical "
     "results folded together, their output once; the text shows the groups."},
    {ToolId::Upload, "upload", "Upload to a saved host",
     "Copy a local file or folder to a saved host, like scp: when `remote` is an existing "
     "directory the source goes inside it. Folders are copied recursively; existing files are "
     "overwritten."},
    {ToolId::Download, "download", "Download from a saved host",
     "Copy a file or folder from a saved host to this machine, like scp: when `local` is an "
     "existing directory the source goes inside it. Existing files are overwritten."},
}};

const ToolEntry& entry_of(ToolId tool) { return TOOLS.at(static_cast<std::size_t>(tool)); }

Json string_property(std::string_view description) {
  return {{"type", "string"}, {"description", description}};
}

Json object_schema(Json properties, Json required) {
  return {{"type", "object"},
          {"properties", std::move(properties)},
          {"required", std::move(required)},
          {"additionalProperties", false}};
}

Json count_property() { return {{"type", "integer"}, {"minimum", 0}}; }
// anyOf rather than a list of types: some agent hosts accept one type only.
Json nullable_string() {
  return {{"anyOf", Json::array({{{"type", "string"}}, {{"type", "null"}}})}};
}

Json value_schema(std::string HostInfo::*) { return {{"type", "string"}}; }
Json value_schema(std::optional<std::string> HostInfo::*) { return nullable_string(); }
Json value_schema(std::uint16_t HostInfo::*) {
  return {{"type", "integer"}, {"minimum", 0}, {"maximum", 65535}};
}

Json host_schema() {
  Json properties = Json::object();
  Json required = Json::array();
  for (const HostField& field : HOST_FIELDS) {
    properties[std::string(field.key)] =
        std::visit([](auto member) { return value_schema(member); }, field.member);
    required.push_back(std::string(field.key));
  }
  return object_schema(std::move(properties), std::move(required));
}

Json summary_schema() {
  return object_schema({{"files", count_property()},
                        {"bytes", count_property()},
                        {"skipped", count_property()},
                        {"failed", count_property()},
                        {"failures", {{"type", "array"}, {"items", {{"type", "string"}}}}}},
                       {"files", "bytes", "skipped", "failed", "failures"});
}

constexpr std::string_view HOST_HELP = "Host ID, from list_hosts";

Json nullable_integer() {
  return {{"anyOf", Json::array({{{"type", "integer"}}, {{"type", "null"}}})}};
}

// Both shapes an exec result takes: one host's, or several hosts'.
Json exec_output_schema() {
  const Json streams = {{"stdout", {{"type", "string"}}},     {"stderr", {{"type", "string"}}},
                        {"stdout_omitted", count_property()}, {"stderr_omitted", count_property()},
                        {"exit_code", nullable_integer()},    {"timed_out", {{"type", "boolean"}}},
                        {"error", nullable_string()},         {"cut", {{"type", "boolean"}}}};
  Json result = streams;
  result["id"] = {{"type", "string"}};
  result["name"] = nullable_string();
  Json group = streams;
  group["hosts"] = {
      {"type", "array"},
      {"items",
       object_schema({{"id", {{"type", "string"}}}, {"name", nullable_string()}}, {"id", "name"})}};
  const Json members = {"exit_code",      "timed_out",      "stdout", "stderr",
                        "stdout_omitted", "stderr_omitted", "error",  "cut"};
  Json result_required = {"id", "name"};
  Json group_required = {"hosts"};
  for (const Json& member : members) {
    result_required.push_back(member);
    group_required.push_back(member);
  }
  const Json one_host = {"exit_code",        "stdout",         "stderr",        "stdout_truncated",
                         "stderr_truncated", "stdout_omitted", "stderr_omitted"};
  const Json several = {"results", "groups", "results_cut", "groups_cut"};
  return {{"type", "object"},
          {"properties",
           {{"exit_code", nullable_integer()},
            {"timed_out", {{"type", "boolean"}}},
            {"stdout", {{"type", "string"}}},
            {"stderr", {{"type", "string"}}},
            {"stdout_truncated", {{"type", "boolean"}}},
            {"stderr_truncated", {{"type", "boolean"}}},
            {"stdout_omitted", count_property()},
            {"stderr_omitted", count_property()},
            {"results", {{"type", "array"}, {"items", object_schema(result, result_required)}}},
            {"groups", {{"type", "array"}, {"items", object_schema(group, group_required)}}},
            {"results_cut", count_property()},
            {"groups_cut", count_property()}}},
          // Constraints only, no types: a client that reads the properties alone still
          // sees every member.
          {"anyOf", Json::array({{{"required", one_host}}, {{"required", several}}})},
          {"additionalProperties", false}};
}

}  // namespace

Json input_schema(ToolId tool) {
  switch (tool) {
    case ToolId::ListHosts:
      return object_schema(
          {{"query", string_property("Only hosts whose name, host, user, group or ID matches")}},
          Json::array());
    case ToolId::Exec:
      // Exactly one of host, hosts and query; said in words, as some clients
      // take no oneOf at the top of a schema.
      return object_schema(
          {{"host", string_property("Host ID, from list_hosts. Give exactly one of `host`, "
                                    "`hosts` and `query`")},
           {"hosts",
            {{"type", "array"},
             {"items", {{"type", "string"}}},
             {"minItems", 1},
             {"description", "Several host IDs: the command runs on each, some at once"}}},
           {"query", string_property("Every host whose name, host, user, group or ID matches, "
                                     "as list_hosts finds them")},
           {"command", string_property("Shell command, run in the login shell")},
           {"timeout_seconds",
            {{"type", "integer"},
             {"minimum", 1},
             {"maximum", MAX_TIMEOUT_SECONDS},
             {"description",
              "Stop waiting after this many seconds (default, and at most: the server's "
              "limit); on several hosts, for all of them together"}}}},
          {"command"});
    case ToolId::Upload:
      return object_schema(
          {{"host", string_property(HOST_HELP)},
           {"local", string_property("Local file or folder; relative to the server's directory")},
           {"remote", string_property("Remote destination")}},
          {"host", "local", "remote"});
    case ToolId::Download:
      return object_schema(
          {{"host", string_property(HOST_HELP)},
           {"remote", string_property("Remote file or folder")},
           {"local", string_property("Local destination; relative to the server's directory")}},
          {"host", "remote", "local"});
  }
  return {};
}

namespace {

Json output_schema(ToolId tool) {
  switch (tool) {
    case ToolId::ListHosts:
      return object_schema({{"hosts", {{"type", "array"}, {"items", host_schema()}}}}, {"hosts"});
    case ToolId::Exec:
      return exec_output_schema();
    case ToolId::Upload:
    case ToolId::Download:
      return summary_schema();
  }
  return {};
}

Json annotations(ToolId tool) {
  const bool read_only = tool == ToolId::ListHosts;
  return {{"readOnlyHint", read_only},
          {"destructiveHint", !read_only},
          {"idempotentHint", read_only},
          {"openWorldHint", !read_only}};
}

}  // namespace

std::optional<ToolId> find_tool(std::string_view name) {
  for (const ToolEntry& tool : TOOLS) {
    if (tool.name == name) return tool.id;
  }
  return std::nullopt;
}

std::string_view tool_name(ToolId tool) { return entry_of(tool).name; }

Json describe_tool(ToolId tool) {
  const ToolEntry& entry = entry_of(tool);
  Json described = {{"name", entry.name},
                    {"title", entry.title},
                    {"description", entry.description},
                    {"inputSchema", input_schema(tool)},
                    {"outputSchema", output_schema(tool)}};
  described["annotations"] = annotations(tool);
  described["annotations"]["title"] = entry.title;
  return described;
}

}  // namespace sorvane::mcp

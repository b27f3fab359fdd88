#include "mcp/confirmation.h"

#include <string>
#include <variant>

#include "output/inert_text.h"
#include "text/native_string.h"

namespace sorvane::mcp {
namespace {

std::string address(const HostInfo& host) {
  const bool ipv6 = host.host.find(':') != std::string::npos;
  const std::string name = ipv6 ? "[" + host.host + "]" : host.host;
  return host.user + "@" + name + ":" + std::to_string(host.port);
}

// The client may show the message as it is, in a dialog that may neither
// wrap nor scroll, so what the agent or the desktop application wrote into it
// is made inert and long runs of white space are counted: a command cannot
// hide part of itself, nor a host name pass for another.
std::string shown(std::string_view outside) { return inert_counting_blank_runs(outside); }

std::string describe(const std::string& where, const Request& request) {
  return std::visit(
      [&](const auto& member) -> std::string {
        using Member = std::decay_t<decltype(member)>;
        if constexpr (std::is_same_v<Member, Request::Exec>) {
          return "Run this command on " + where + "?\n\n" + shown(member.command);
        } else if constexpr (std::is_same_v<Member, Request::Upload>) {
          return "Upload the local " + shown(native_to_utf8_lossy(member.source)) + " to " + where +
                 " as " + shown(member.destination) + "?";
        } else if constexpr (std::is_same_v<Member, Request::Download>) {
          return "Download " + shown(member.source) + " from " + where + " to the local " +
                 shown(native_to_utf8_lossy(member.destination)) + "?";
        } else {
          return "Send this request to " + where + "?";
        }
      },
      request.member);
}

std::string where(const HostInfo& host) {
  return shown(host.name) + " (" + shown(address(host)) + ")";
}

// Every host on a line of its own, so that none hides in a long line.
std::string message_for(std::span<const HostInfo> hosts, const Request& request) {
  if (hosts.size() == 1) return describe(where(hosts.front()), request);
  const auto* exec = std::get_if<Request::Exec>(&request.member);
  // Appended piece by piece: GCC 12 at -O3 sees a false overlap in a chain
  // of string additions.
  std::string message = exec ? "Run this command" : "Send this request";
  message.append(" on ").append(std::to_string(hosts.size())).append(" hosts?\n\n");
  for (const HostInfo& host : hosts) message.append(where(host)).append("\n");
  if (exec) message.append("\n").append(shown(exec->command));
  return message;
}

}  // namespace

Json confirmation_question(std::span<const HostInfo> hosts, const Request& request) {
  return {{"message", message_for(hosts, request)},
          {"requestedSchema",
           {{"type", "object"},
            {"properties",
             {{"confirm",
               {{"type", "boolean"},
                {"title", "Allow it"},
                {"description", "Yes to let the agent go ahead, no to stop it"}}}}},
            {"required", Json::array({"confirm"})}}}};
}

bool confirmed(const Json& answer) {
  if (!answer.is_object() || answer.value("action", Json()) != "accept") return false;
  const auto content = answer.find("content");
  if (content == answer.end() || !content->is_object()) return false;
  const auto confirm = content->find("confirm");
  return confirm != content->end() && confirm->is_boolean() && confirm->get<bool>();
}

}  // namespace sorvane::mcp

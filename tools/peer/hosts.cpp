#include "hosts.h"

#include <array>
#include <cstdio>

#include "text/unicode.h"

namespace sorvane::peer {
namespace {

constexpr std::array<const char*, 4> REQUIRED_STRINGS = {"id", "name", "user", "host"};
constexpr std::array<const char*, 2> OPTIONAL_STRINGS = {"group", "os"};

Result<bool, std::string> check_host(const Json& host) {
  if (!host.is_object()) return fail(std::string("a host must be a JSON object"));
  for (const char* key : REQUIRED_STRINGS) {
    if (!host.contains(key) || !host[key].is_string()) {
      return fail("host member \"" + std::string(key) + "\" must be a string");
    }
  }
  for (const char* key : OPTIONAL_STRINGS) {
    if (host.contains(key) && !host[key].is_null() && !host[key].is_string()) {
      return fail("host member \"" + std::string(key) + "\" must be a string or null");
    }
  }
  const auto port = host.find("port");
  if (port == host.end() || !port->is_number_unsigned() || port->get<std::uint64_t>() > 65535) {
    return fail(std::string("host member \"port\" must be a number from 0 to 65535"));
  }
  return true;
}

bool member_contains(const Json& host, const char* key, const std::string& lowered_query) {
  const auto member = host.find(key);
  if (member == host.end() || !member->is_string()) return false;
  return text::to_lower_full(member->get_ref<const std::string&>()).find(lowered_query) !=
         std::string::npos;
}

}  // namespace

Result<Json, std::string> parse_hosts(std::string_view text) {
  Json hosts = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (hosts.is_discarded()) return fail(std::string("the hosts file is not valid JSON"));
  if (!hosts.is_array()) return fail(std::string("the hosts file must hold a JSON array"));
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    auto checked = check_host(hosts[i]);
    if (!checked) return fail("host " + std::to_string(i + 1) + ": " + checked.error());
  }
  return hosts;
}

Json filter_hosts(const Json& hosts, const std::optional<std::string>& query) {
  if (!query) return hosts;
  const std::string lowered = text::to_lower_full(*query);
  Json matches = Json::array();
  for (const Json& host : hosts) {
    for (const char* key : {"name", "host", "user", "group", "id"}) {
      if (member_contains(host, key, lowered)) {
        matches.push_back(host);
        break;
      }
    }
  }
  return matches;
}

Json generate_hosts(std::uint64_t count) {
  static constexpr std::array<const char*, 4> GROUPS = {"prod", "staging", "dev", "lab"};
  static constexpr std::array<const char*, 4> SYSTEMS = {"ubuntu", "debian", "centos", "alpine"};
  Json hosts = Json::array();
  for (std::uint64_t i = 0; i < count; ++i) {
    char id[17];
    std::snprintf(id, sizeof id, "%016llx",
                  static_cast<unsigned long long>(0x5e0d000000000000ULL + i));
    Json host;
    host["id"] = id;
    host["name"] = "host-" + std::to_string(i + 1);
    host["group"] = GROUPS[i % GROUPS.size()];
    host["user"] = "deploy";
    host["host"] = "10.0." + std::to_string(i / 250 % 256) + "." + std::to_string(i % 250 + 1);
    host["port"] = 22;
    host["os"] = SYSTEMS[i % SYSTEMS.size()];
    hosts.push_back(std::move(host));
  }
  return hosts;
}

const Json* find_host(const Json& hosts, std::string_view id) {
  for (const Json& host : hosts) {
    const auto member = host.find("id");
    if (member != host.end() && member->is_string() &&
        member->get_ref<const std::string&>() == id) {
      return &host;
    }
  }
  return nullptr;
}

Json hosts_reply(Json hosts) {
  Json reply;
  reply["type"] = "hosts";
  reply["hosts"] = std::move(hosts);
  return reply;
}

}  // namespace sorvane::peer

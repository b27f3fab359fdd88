#include "output/host_listing.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <utility>

#include "output/inert_text.h"
#include "output/pretty_json.h"
#include "text/unicode.h"

namespace sorvane {
namespace {

constexpr std::size_t COLUMNS = 5;
using Row = std::array<std::string, COLUMNS>;

constexpr std::string_view NO_MATCHING_HOST = "没有匹配的主机\n";
constexpr std::string_view COLUMN_GAP = "  ";

// Texts as strings, absent ones as null (never left out), the port as a number.
void write_value(PrettyJsonWriter& json, const std::string& text) { json.string(text); }
void write_value(PrettyJsonWriter& json, std::uint16_t port) { json.number(port); }
void write_value(PrettyJsonWriter& json, const std::optional<std::string>& text) {
  if (text) {
    json.string(*text);
  } else {
    json.null();
  }
}

std::string format_hosts_json(const std::vector<HostInfo>& hosts) {
  // The keys of the host objects inside the top-level array, rendered once.
  static const std::vector<JsonKey> KEYS = [] {
    std::vector<JsonKey> rendered;
    rendered.reserve(HOST_FIELDS.size());
    for (const HostField& field : HOST_FIELDS) rendered.emplace_back(field.key, 2);
    return rendered;
  }();
  PrettyJsonWriter json;
  // A host prints as some 150 to 250 bytes: room up front spares copies of
  // a growing text and the fresh pages they touch.
  json.reserve(4 + hosts.size() * 192);
  json.begin_array();
  for (const HostInfo& host : hosts) {
    json.begin_object();
    for (std::size_t field = 0; field < HOST_FIELDS.size(); ++field) {
      json.key(KEYS[field]);
      // `os` as received: scripts get the raw key, not the display name.
      std::visit([&](auto member) { write_value(json, host.*member); }, HOST_FIELDS[field].member);
    }
    json.end_object();
  }
  json.end_array();
  std::string text = json.take();
  text += '\n';
  return text;
}

// Every cell but the system's comes from the desktop application as it is:
// shown inert, and measured as shown.
Row table_row(const HostInfo& host) {
  return {inert(host.id), inert(host.name), inert(host.group.value_or("")),
          inert(host_address(host)), std::string(os_display_name(host.os.value_or("")))};
}

std::string format_table_line(const Row& row, const std::array<std::size_t, COLUMNS>& widths) {
  std::string line;
  for (std::size_t column = 0; column < COLUMNS; ++column) {
    if (column > 0) line += COLUMN_GAP;
    line += row[column];
    line.append(widths[column] - text::display_width(row[column]), ' ');
  }
  // Drops the padding of empty last columns and any white space the last
  // cell itself ends with.
  std::string trimmed(text::trim_trailing_white_space(line));
  trimmed += '\n';
  return trimmed;
}

std::string format_hosts_table(const std::vector<HostInfo>& hosts) {
  std::vector<Row> rows;
  rows.reserve(hosts.size() + 1);
  rows.push_back({"ID", "名称", "分组", "地址", "系统"});
  for (const HostInfo& host : hosts) rows.push_back(table_row(host));

  std::array<std::size_t, COLUMNS> widths{};
  for (const Row& row : rows) {
    for (std::size_t column = 0; column < COLUMNS; ++column) {
      widths[column] = std::max(widths[column], text::display_width(row[column]));
    }
  }

  std::string text;
  for (const Row& row : rows) text += format_table_line(row, widths);
  return text;
}

}  // namespace

std::string_view os_display_name(std::string_view key) {
  static constexpr std::pair<std::string_view, std::string_view> NAMES[] = {
      {"ubuntu", "Ubuntu"},       {"debian", "Debian"},
      {"fedora", "Fedora"},       {"rhel", "Red Hat"},
      {"centos", "CentOS"},       {"rocky", "Rocky Linux"},
      {"almalinux", "AlmaLinux"}, {"arch", "Arch Linux"},
      {"alpine", "Alpine Linux"}, {"suse", "openSUSE"},
      {"gentoo", "Gentoo"},       {"kali", "Kali Linux"},
      {"manjaro", "Manjaro"},     {"raspbian", "Raspberry Pi OS"},
      {"linux", "Linux"},         {"macos", "macOS"},
      {"windows", "Windows"},     {"freebsd", "FreeBSD"},
      {"openbsd", "OpenBSD"},     {"netbsd", "NetBSD"},
  };
  for (const auto& [known_key, shown] : NAMES) {
    if (known_key == key) return shown;
  }
  return {};
}

std::string host_address(const HostInfo& host) {
  // IPv6 addresses stay unbracketed: the text is for reading, not parsing.
  return host.user + "@" + host.host + ":" + std::to_string(host.port);
}

IoResult<void> print_hosts(const std::vector<HostInfo>& hosts, OutputStreams& streams) {
  if (streams.json) return streams.out.write_all(format_hosts_json(hosts));
  // An empty result is a message for the person, not table output.
  if (hosts.empty()) return streams.err.write_all(NO_MATCHING_HOST);
  return streams.out.write_all(format_hosts_table(hosts));
}

}  // namespace sorvane

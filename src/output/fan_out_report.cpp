#include "output/fan_out_report.h"

#include <algorithm>

#include "output/inert_text.h"
#include "protocol/json_quote.h"

namespace sorvane {
namespace {

constexpr std::uint32_t SOME_EXITED_NON_ZERO = 1;
constexpr std::uint32_t SOME_NOT_RUN = 255;

bool succeeded(const HostOutcome& outcome) { return !outcome.error && outcome.exit_code == 0; }

void append_member(std::string& line, std::string_view key, std::string_view json_value) {
  line.append(line.size() == 1 ? "" : ",");
  append_json_string(line, key);
  line.append(":").append(json_value);
}

std::string boolean(bool value) { return value ? "true" : "false"; }

}  // namespace

std::string host_json_line(const HostLabel& host, const HostOutcome& outcome,
                           const StreamCapture& out, const StreamCapture& err) {
  std::string line = "{";
  append_member(line, "id", json_quote(host.id));
  append_member(line, "name", host.name ? json_quote(*host.name) : std::string("null"));
  append_member(line, "exit_code",
                outcome.exit_code ? std::to_string(*outcome.exit_code) : std::string("null"));
  append_member(line, "stdout", json_quote(out.text()));
  append_member(line, "stderr", json_quote(err.text()));
  append_member(line, "stdout_truncated", boolean(out.truncated()));
  append_member(line, "stderr_truncated", boolean(err.truncated()));
  std::string error = "null";
  if (outcome.error) {
    error = format_error_line(*outcome.error);
    error.pop_back();  // the line feed
    error = json_quote(error);
  }
  append_member(line, "error", error);
  append_member(line, "timed_out", boolean(outcome.timed_out));
  line.append("}\n");
  return line;
}

std::string fan_out_summary(std::span<const HostLabel> hosts,
                            std::span<const HostOutcome> outcomes) {
  const auto total = std::to_string(outcomes.size());
  const auto good = std::count_if(outcomes.begin(), outcomes.end(), succeeded);
  if (static_cast<std::size_t>(good) == outcomes.size()) return total + " 台主机全部成功\n";
  std::string line = total + " 台主机中 " + std::to_string(good) + " 台成功；失败：";
  const char* separator = "";
  for (std::size_t i = 0; i < outcomes.size() && i < hosts.size(); ++i) {
    const HostOutcome& outcome = outcomes[i];
    if (succeeded(outcome)) continue;
    line.append(separator);
    append_inert(line, hosts[i].label);
    line.append("（");
    if (outcome.not_run) {
      line.append("未运行");
    } else if (outcome.error) {
      line.append(code_word(outcome.error->code));
    } else {
      line.append("退出码 ").append(std::to_string(outcome.exit_code.value_or(0)));
    }
    line.append("）");
    separator = "、";
  }
  return line + "\n";
}

std::uint32_t fan_out_status(std::span<const HostOutcome> outcomes) {
  if (std::any_of(outcomes.begin(), outcomes.end(),
                  [](const HostOutcome& outcome) { return outcome.error.has_value(); })) {
    return SOME_NOT_RUN;
  }
  return std::all_of(outcomes.begin(), outcomes.end(), succeeded) ? 0 : SOME_EXITED_NON_ZERO;
}

}  // namespace sorvane

#include "output/fan_out_report.h"

#include <algorithm>

#include "output/inert_text.h"
#include "protocol/json_quote.h"

namespace sorvane {
namespace {

constexpr std::uint32_t SOME_EXITED_NON_ZERO = 1;
constexpr std::uint32_t SOME_NOT_RUN = 255;

bool succeeded(const HostOutcome& outcome) { return !failed(outcome); }

void append_member(std::string& line, std::string_view key, std::string_view json_value) {
  line.append(line.size() == 1 ? "" : ",");
  append_json_string(line, key);
  line.append(":").append(json_value);
}

std::string boolean(bool value) { return value ? "true" : "false"; }

// The error line without its line feed, or null.
std::string error_json(const HostOutcome& outcome) {
  if (!outcome.error) return "null";
  std::string error = format_error_line(*outcome.error);
  error.pop_back();
  return json_quote(error);
}

std::string count_json(const std::optional<TransferSummary>& transfer,
                       std::uint64_t TransferSummary::*count) {
  return transfer ? std::to_string((*transfer).*count) : std::string("null");
}

void append_result(std::string& line, const HostOutcome& outcome, const StreamCapture& out,
                   const StreamCapture& err) {
  append_member(line, "exit_code",
                outcome.exit_code ? std::to_string(*outcome.exit_code) : std::string("null"));
  append_member(line, "stdout", json_quote(out.text()));
  append_member(line, "stderr", json_quote(err.text()));
  append_member(line, "stdout_truncated", boolean(out.truncated()));
  append_member(line, "stderr_truncated", boolean(err.truncated()));
  append_member(line, "error", error_json(outcome));
  append_member(line, "timed_out", boolean(outcome.timed_out));
  line.append("}\n");
}

void append_host(std::string& text, const HostLabel& host) {
  append_member(text, "id", json_quote(host.id));
  append_member(text, "name", host.name ? json_quote(*host.name) : std::string("null"));
}

}  // namespace

std::string host_json_line(const HostLabel& host, const HostOutcome& outcome,
                           const StreamCapture& out, const StreamCapture& err) {
  std::string line = "{";
  append_host(line, host);
  append_result(line, outcome, out, err);
  return line;
}

std::string transfer_json_line(const HostLabel& host, const HostOutcome& outcome) {
  std::string line = "{";
  append_host(line, host);
  append_member(line, "files", count_json(outcome.transfer, &TransferSummary::files));
  append_member(line, "bytes", count_json(outcome.transfer, &TransferSummary::bytes));
  append_member(line, "failed", count_json(outcome.transfer, &TransferSummary::failed));
  std::string failures = "[";
  if (outcome.transfer) {
    for (const std::string& failure : outcome.transfer->failures) {
      failures.append(failures.size() == 1 ? "" : ",").append(json_quote(failure));
    }
  }
  append_member(line, "failures", failures + "]");
  append_member(line, "error", error_json(outcome));
  line.append("}\n");
  return line;
}

std::string group_json_line(std::span<const HostLabel> hosts, const HostOutcome& outcome,
                            const StreamCapture& out, const StreamCapture& err) {
  std::string list = "[";
  for (const HostLabel& host : hosts) {
    std::string object = "{";
    append_host(object, host);
    list.append(list.size() == 1 ? "" : ",").append(object).append("}");
  }
  std::string line = "{";
  append_member(line, "hosts", list + "]");
  append_result(line, outcome, out, err);
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
    } else if (outcome.transfer) {
      line.append(std::to_string(outcome.transfer->failed)).append(" 个文件失败");
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

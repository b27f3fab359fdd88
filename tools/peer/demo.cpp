#include "demo.h"

#include "hosts.h"
#include "transfer.h"

namespace sorvane::peer {
namespace {

RequestError bad_request(std::string detail) {
  return {ErrorCode::BadRequest, "无法识别的请求：" + std::move(detail)};
}

Result<std::string, RequestError> string_member(const Json& request, const char* key) {
  const auto member = request.find(key);
  if (member == request.end() || !member->is_string()) {
    return fail(bad_request(std::string("\"") + key + "\" 必须是字符串"));
  }
  return member->get<std::string>();
}

Result<DemoRequest, RequestError> decode_list(const Json& request) {
  const auto query = request.find("query");
  if (query == request.end() || query->is_null()) return DemoRequest{ListRequest{}};
  if (!query->is_string()) return fail(bad_request("\"query\" 必须是字符串或 null"));
  return DemoRequest{ListRequest{query->get<std::string>()}};
}

Result<DemoRequest, RequestError> decode_exec(const Json& request) {
  auto host = string_member(request, "host");
  if (!host) return fail(std::move(host).error());
  auto command = string_member(request, "command");
  if (!command) return fail(std::move(command).error());
  return DemoRequest{ExecRequest{std::move(*host), std::move(*command)}};
}

Result<DemoRequest, RequestError> decode_transfer(const Json& request, bool upload) {
  TransferRequest transfer;
  transfer.upload = upload;
  for (auto [key, field] :
       {std::pair{"host", &transfer.host}, std::pair{"source", &transfer.source},
        std::pair{"destination", &transfer.destination}}) {
    auto value = string_member(request, key);
    if (!value) return fail(std::move(value).error());
    *field = std::move(*value);
  }
  return DemoRequest{std::move(transfer)};
}

IoResult<void> answer_list(const ListRequest& list, const Json& hosts, ByteWriter& out) {
  return send_json(out, hosts_reply(filter_hosts(hosts, list.query)));
}

// Which host the command stands for, so that hosts can answer differently
// in tests and demos although one machine runs every command.
ShellVariables host_variables(const Json& host) {
  ShellVariables variables = {{"SORVANE_DEMO_HOST_ID", host.value("id", "")}};
  if (const auto name = host.find("name"); name != host.end() && name->is_string()) {
    variables.emplace_back("SORVANE_DEMO_HOST_NAME", name->get<std::string>());
  }
  return variables;
}

IoResult<void> answer_exec(const ExecRequest& exec, const Json& host, ByteWriter& out,
                           ClientEnd* client) {
  IoResult<void> broken;
  const ChunkSink sink = [&](FrameKind kind, ByteSpan chunk) {
    broken = write_frame(out, kind, chunk);
    return broken.has_value();
  };
  auto code = run_shell(exec.command, host_variables(host), sink, client);
  if (!broken) return broken;
  if (!code && code.error().client_gone)
    return fail(IoError{IoErrorKind::BrokenPipe, "the client hung up; the command was ended"});
  if (!code) {
    return send_json(out,
                     error_reply(ErrorCode::ConnectFailed, "无法运行命令：" + code.error().text));
  }
  return send_json(out, Json{{"type", "exit"}, {"code", *code}});
}

Json progress_reply(const TransferCounters& counters) {
  return Json{{"type", "progress"},
              {"files", counters.files},
              {"total_files", counters.total_files},
              {"bytes", counters.bytes},
              {"total_bytes", counters.total_bytes}};
}

Json transfer_done_reply(const TransferSummary& summary) {
  return Json{{"type", "transfer_done"},  {"files", summary.files},
              {"bytes", summary.bytes},   {"skipped", summary.skipped},
              {"failed", summary.failed}, {"failures", summary.failures}};
}

IoResult<void> answer_transfer(const TransferRequest& transfer, ByteWriter& out) {
  // Both ends are this machine; only the "remote" side knows about "~".
  std::error_code no_cwd;
  const auto home = home_directory().value_or(fs::current_path(no_cwd));
  const fs::path source =
      transfer.upload ? path_from_utf8(transfer.source) : expand_home(transfer.source, home);
  const fs::path destination = transfer.upload ? expand_home(transfer.destination, home)
                                               : path_from_utf8(transfer.destination);

  IoResult<void> broken;
  auto summary = copy_tree(source, destination, [&](const TransferCounters& counters) {
    broken = send_json(out, progress_reply(counters));
    return broken.has_value();
  });
  if (!broken) return broken;
  if (!summary) return send_json(out, error_reply(ErrorCode::TransferFailed, summary.error()));
  return send_json(out, transfer_done_reply(*summary));
}

}  // namespace

Result<DemoRequest, RequestError> decode_request(std::string_view payload) {
  const Json envelope = Json::parse(payload, nullptr, /*allow_exceptions=*/false);
  if (envelope.is_discarded()) return fail(bad_request("不是有效的 JSON"));
  if (!envelope.is_object()) return fail(bad_request("请求必须是 JSON 对象"));
  const auto version = envelope.find("version");
  if (version == envelope.end() || !version->is_number_integer()) {
    return fail(bad_request("缺少协议版本"));
  }
  if (*version != 2) {
    return fail(
        RequestError{ErrorCode::VersionMismatch,
                     "协议版本不匹配：Sorvane 使用版本 2，请求使用版本 " + version->dump()});
  }
  const auto request = envelope.find("request");
  if (request == envelope.end() || !request->is_object())
    return fail(bad_request("缺少 \"request\" 对象"));
  auto type = string_member(*request, "type");
  if (!type) return fail(std::move(type).error());
  if (*type == "list") return decode_list(*request);
  if (*type == "exec") return decode_exec(*request);
  if (*type == "upload") return decode_transfer(*request, true);
  if (*type == "download") return decode_transfer(*request, false);
  if (*type == "activate") return DemoRequest{ActivateRequest{}};
  return fail(bad_request("未知的请求类型 " + *type));
}

IoResult<void> serve_demo(std::string_view payload, const Json& hosts, ByteWriter& out,
                          ClientEnd* client) {
  auto request = decode_request(payload);
  if (!request) return send_json(out, error_reply(request.error().code, request.error().message));

  auto host_of = [](const DemoRequest& r) -> const std::string* {
    if (const auto* exec = std::get_if<ExecRequest>(&r)) return &exec->host;
    if (const auto* transfer = std::get_if<TransferRequest>(&r)) return &transfer->host;
    return nullptr;
  };
  const Json* host = nullptr;
  if (const std::string* id = host_of(*request); id && (host = find_host(hosts, *id)) == nullptr) {
    return send_json(out, error_reply(ErrorCode::HostNotFound, "找不到主机 " + *id));
  }

  if (auto* list = std::get_if<ListRequest>(&*request)) return answer_list(*list, hosts, out);
  if (auto* exec = std::get_if<ExecRequest>(&*request))
    return answer_exec(*exec, *host, out, client);
  if (auto* transfer = std::get_if<TransferRequest>(&*request))
    return answer_transfer(*transfer, out);
  return send_json(out, Json{{"type", "activated"}});
}

}  // namespace sorvane::peer

// The ten code words that name every failure, and the tool's own messages.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sorvane {

enum class ErrorCode {
  NotRunning,
  NotEnabled,
  VersionMismatch,
  HostNotFound,
  HostKeyUnknown,
  HostKeyChanged,
  MissingCredential,
  ConnectFailed,
  TransferFailed,
  BadRequest,
};

std::string_view code_word(ErrorCode code);
// Exact, byte for byte; anything else is no code word.
std::optional<ErrorCode> parse_code_word(std::string_view word);

// An error as the user sees it: "sorvane: [code] message".
struct ToolError {
  ErrorCode code;
  std::string message;
};

std::string format_error_line(const ToolError& error);  // ends with "\n"

// The tool's own messages (the ones that end with a description take it
// appended).
namespace messages {
inline constexpr std::string_view NOT_RUNNING =
    "Sorvane 未运行：请先打开 Sorvane，并在 设置 → 外部 CLI 中打开「启用外部 CLI」";
inline constexpr std::string_view DENIED =
    "没有权限连接 Sorvane：Agent 可能运行在沙箱中，需要允许它访问本机的进程间通信";
inline constexpr std::string_view FOREIGN_OWNER = "外部 CLI 的管道不属于当前用户，已拒绝连接";
inline constexpr std::string_view CONNECTION_BROKEN = "与 Sorvane 的连接意外中断：";
inline constexpr std::string_view CANNOT_READ_STDIN = "无法读取标准输入：";
inline constexpr std::string_view EMPTY_COMMAND = "命令不能为空";
inline constexpr std::string_view CANNOT_RESOLVE_PATH = "无法解析路径 ";
inline constexpr std::string_view FULL_WIDTH_COLON = "：";
}  // namespace messages

// "与 Sorvane 的连接意外中断：" + description, code connect_failed.
ToolError connection_broken(std::string_view description);

}  // namespace sorvane

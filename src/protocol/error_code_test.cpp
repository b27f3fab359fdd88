#include "protocol/error_code.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

TEST(ErrorCode, CodeWordsRoundTripInOrder) {
  const std::string_view words[] = {
      "not_running",      "not_enabled",      "version_mismatch",   "host_not_found",
      "host_key_unknown", "host_key_changed", "missing_credential", "connect_failed",
      "transfer_failed",  "bad_request",
  };
  for (std::size_t i = 0; i < std::size(words); ++i) {
    auto code = static_cast<ErrorCode>(i);
    EXPECT_EQ(code_word(code), words[i]);
    EXPECT_EQ(parse_code_word(words[i]), code) << words[i];
  }
}

TEST(ErrorCode, OnlyExactWordsParse) {
  for (std::string_view word : {"NOT_RUNNING", "Not_running", "not-running", "not_running ",
                                " not_running", "", "0", "notrunning"}) {
    EXPECT_FALSE(parse_code_word(word)) << word;
  }
  EXPECT_FALSE(parse_code_word(std::string_view("not_running\0", 12)));
}

TEST(ErrorCode, ErrorLineLayout) {
  EXPECT_EQ(format_error_line({ErrorCode::HostNotFound, "找不到主机"}),
            "sorvane: [host_not_found] 找不到主机\n");
  // An empty message still keeps the space after the bracket.
  EXPECT_EQ(format_error_line({ErrorCode::NotEnabled, ""}), "sorvane: [not_enabled] \n");
}

TEST(ErrorCode, ConnectionBrokenCarriesTheDescription) {
  ToolError error = connection_broken("unexpected end of file");
  EXPECT_EQ(error.code, ErrorCode::ConnectFailed);
  EXPECT_EQ(format_error_line(error),
            "sorvane: [connect_failed] 与 Sorvane 的连接意外中断：unexpected end of file\n");
}

}  // namespace
}  // namespace sorvane

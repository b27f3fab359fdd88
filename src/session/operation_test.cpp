#include "session/operation.h"

#include "platform/absolute_path.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

InputReader input_of(const std::string& bytes) {
  return [bytes](std::size_t) { return IoResult<std::string>(bytes); };
}

IoResult<std::string> unreadable_input(std::size_t) {
  return fail(IoError{IoErrorKind::Os, "Bad file descriptor (os error 9)"});
}

IoResult<std::string> input_must_not_be_read(std::size_t) {
  ADD_FAILURE() << "standard input read without --stdin";
  return std::string();
}

TEST(PrepareCommand, NormalisesTheCommandTextFromEitherSource) {
  struct Case {
    const char* name;
    std::string source;
    std::string expected;
  };
  const Case cases[] = {
      {"plain", "uptime", "uptime"},
      {"BOM removed once", "\xEF\xBB\xBFls\r\n", "ls\n"},
      {"only one BOM removed", "\xEF\xBB\xBF\xEF\xBB\xBFls", "\xEF\xBB\xBFls"},
      {"BOM elsewhere kept", "a\xEF\xBB\xBF", "a\xEF\xBB\xBF"},
      {"lone CR kept", "a\rb", "a\rb"},
      {"CR CR LF", "a\r\r\nb", "a\r\nb"},
      {"LF CR", "a\n\rb", "a\n\rb"},
      {"not trimmed", "  echo hi \n\n", "  echo hi \n\n"},
      {"quotes and tabs untouched", "echo \"$HOME\"\t\\", "echo \"$HOME\"\t\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto from_argument =
        prepare_command(Operation::Exec{"ID", c.source, false}, input_must_not_be_read);
    ASSERT_TRUE(from_argument) << from_argument.error().message;
    EXPECT_EQ(*from_argument, c.expected);
    auto from_input =
        prepare_command(Operation::Exec{"ID", std::nullopt, true}, input_of(c.source));
    ASSERT_TRUE(from_input) << from_input.error().message;
    EXPECT_EQ(*from_input, c.expected);
  }
}

TEST(PrepareCommand, RefusesEmptyAndUnreadableCommands) {
  struct Case {
    const char* name;
    Operation::Exec exec;
    InputReader input;
    std::string message;
  };
  const std::string empty = "命令不能为空";
  const Case cases[] = {
      {"empty argument", {"ID", "", false}, input_must_not_be_read, empty},
      {"blanks", {"ID", " \t\r\n", false}, input_must_not_be_read, empty},
      {"unicode white space",
       {"ID", "\xC2\xA0\xE3\x80\x80\xE2\x80\xA8", false},
       input_must_not_be_read,
       empty},
      {"only a BOM", {"ID", "\xEF\xBB\xBF", false}, input_must_not_be_read, empty},
      {"BOM and CR LF", {"ID", "\xEF\xBB\xBF\r\n", false}, input_must_not_be_read, empty},
      {"empty input", {"ID", std::nullopt, true}, input_of(""), empty},
      {"input of blanks", {"ID", std::nullopt, true}, input_of("\n\n  "), empty},
      {"input not UTF-8",
       {"ID", std::nullopt, true},
       input_of("ls \xFF"),
       "无法读取标准输入：stream did not contain valid UTF-8"},
      {"input truncated character",
       {"ID", std::nullopt, true},
       input_of("ls \xE4\xB8"),
       "无法读取标准输入：stream did not contain valid UTF-8"},
      {"read error",
       {"ID", std::nullopt, true},
       unreadable_input,
       "无法读取标准输入：Bad file descriptor (os error 9)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto command = prepare_command(c.exec, c.input);
    ASSERT_FALSE(command);
    EXPECT_EQ(command.error().code, ErrorCode::BadRequest);
    EXPECT_EQ(command.error().message, c.message);
  }
}

TEST(MakeAbsolute, EmptyPathFails) {
  auto absolute = make_absolute(NativePath());
  ASSERT_FALSE(absolute);
  EXPECT_EQ(absolute.error().text, "cannot make an empty path absolute");
}

TEST(BuildRequest, MovesFieldsAndMakesLocalPathsAbsolute) {
  auto list = build_request(Operation{Operation::List{"web"}}, input_must_not_be_read);
  ASSERT_TRUE(list);
  EXPECT_EQ(std::get<Request::List>(list->member).query, "web");

  auto exec = build_request(Operation{Operation::Exec{"h1", std::nullopt, true}},
                            input_of("\xEF\xBB\xBFls\r\n"));
  ASSERT_TRUE(exec);
  EXPECT_EQ(std::get<Request::Exec>(exec->member).host, "h1");
  EXPECT_EQ(std::get<Request::Exec>(exec->member).command, "ls\n");

  const NativePath relative = utf8_to_native("missing-dir/../out.zip");
  auto upload =
      build_request(Operation{Operation::Upload{"h1", relative, "~/in"}}, input_must_not_be_read);
  ASSERT_TRUE(upload) << upload.error().message;
  const auto& up = std::get<Request::Upload>(upload->member);
  EXPECT_EQ(up.source, *make_absolute(relative));
  EXPECT_NE(up.source, relative);
  EXPECT_EQ(up.destination, "~/in");

  auto download =
      build_request(Operation{Operation::Download{"h1", "~/x", relative}}, input_must_not_be_read);
  ASSERT_TRUE(download);
  EXPECT_EQ(std::get<Request::Download>(download->member).source, "~/x");
  EXPECT_EQ(std::get<Request::Download>(download->member).destination, *make_absolute(relative));
}

TEST(BuildRequest, UnresolvablePathIsABadRequestNamingThePath) {
  auto upload =
      build_request(Operation{Operation::Upload{"h1", NativePath(), "r"}}, input_must_not_be_read);
  ASSERT_FALSE(upload);
  EXPECT_EQ(upload.error().code, ErrorCode::BadRequest);
  EXPECT_EQ(upload.error().message, "无法解析路径 ：cannot make an empty path absolute");
}

}  // namespace
}  // namespace sorvane

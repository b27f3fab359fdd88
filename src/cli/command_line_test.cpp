#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <type_traits>
#include <vector>

namespace sorvane {
namespace {

std::vector<NativeString> arguments_of(const std::vector<std::string>& words) {
  std::vector<NativeString> arguments{utf8_to_native("/usr/bin/sorvane")};
  for (const auto& word : words) arguments.push_back(argument_to_native(word));
  return arguments;
}

Result<Cli, ParseOutcome> parse_words(const std::vector<std::string>& words) {
  return parse(arguments_of(words));
}

std::string optional_text(const std::optional<std::string>& value) {
  return value ? "'" + *value + "'" : "none";
}

// One line per record, so a table can say what it expects.
std::string describe(const Cli& cli) {
  struct Describer {
    std::string operator()(const Cli::List& c) const {
      return "list query=" + optional_text(c.query) + " json=" + std::to_string(c.json);
    }
    std::string operator()(const Cli::Exec& c) const {
      return "exec id='" + c.id + "' command=" + optional_text(c.command) +
             " stdin=" + std::to_string(c.use_stdin);
    }
    std::string operator()(const Cli::Upload& c) const {
      return "upload id='" + c.id + "' local='" + native_to_utf8_lossy(c.local) + "' remote='" +
             c.remote + "' json=" + std::to_string(c.json);
    }
    std::string operator()(const Cli::Download& c) const {
      return "download id='" + c.id + "' remote='" + c.remote + "' local='" +
             native_to_utf8_lossy(c.local) + "' json=" + std::to_string(c.json);
    }
  };
  return std::visit(Describer{}, cli.command);
}

TEST(Parse, AcceptedCommandLines) {
  struct Case {
    std::vector<std::string> words;
    std::string expected;
  };
  const Case cases[] = {
      {{"list"}, "list query=none json=0"},
      {{"list", "-q", "web"}, "list query='web' json=0"},
      {{"list", "--query=web", "--json"}, "list query='web' json=1"},
      {{"list", "--json", "-q", ""}, "list query='' json=1"},
      {{"exec", "ID", "uname -a"}, "exec id='ID' command='uname -a' stdin=0"},
      {{"exec", "ID", "--stdin"}, "exec id='ID' command=none stdin=1"},
      {{"exec", "--stdin", "ID"}, "exec id='ID' command=none stdin=1"},
      {{"exec", "ID", ""}, "exec id='ID' command='' stdin=0"},
      {{"exec", "", "x"}, "exec id='' command='x' stdin=0"},
      {{"exec", "ID", "list"}, "exec id='ID' command='list' stdin=0"},
      {{"exec", "ID", "--", "-a"}, "exec id='ID' command='-a' stdin=0"},
      {{"exec", "主机", "echo 你好"}, "exec id='主机' command='echo 你好' stdin=0"},
      {{"upload", "ID", "a.zip", "~"}, "upload id='ID' local='a.zip' remote='~' json=0"},
      {{"upload", "ID", "a", "", "--json"}, "upload id='ID' local='a' remote='' json=1"},
      {{"download", "ID", "/var/log/app.log", "."},
       "download id='ID' remote='/var/log/app.log' local='.' json=0"},
      {{"download", "--json", "ID", "exec", "."},
       "download id='ID' remote='exec' local='.' json=1"},
  };
  for (const auto& c : cases) {
    auto cli = parse_words(c.words);
    ASSERT_TRUE(cli) << c.expected << "\n" << cli.error().text;
    EXPECT_EQ(describe(*cli), c.expected);
  }
}

// Invalid Unicode is written as an encoded lone surrogate: raw bytes on POSIX,
// an unpaired UTF-16 surrogate once it has been through a Windows command line.
TEST(Parse, RefusedCommandLinesEndWithStatusTwoOnStandardError) {
  struct Case {
    std::vector<std::string> words;
    std::string message;  // the first line of the error
  };
  const Case cases[] = {
      {{"foo"}, "error: unrecognized subcommand 'foo'"},
      {{"--json"}, "error: unexpected argument '--json' found"},
      {{"exec", "ID"}, "error: COMMAND is required unless --stdin is given"},
      {{"exec", "ID", "uname", "-a"}, "error: unexpected argument '-a' found"},
      {{"exec", "ID", "uname -a", "--stdin"}, "error: COMMAND excludes --stdin"},
      {{"exec", "ID", "cmd", "--json"}, "error: unexpected argument '--json' found"},
      {{"exec", "-V"}, "error: unexpected argument '-V' found"},
      {{"exec", "ID", "x", "--stdin", "--stdin"}, ""},
      {{"exec", "ID", "--stdin", "--stdin"}, ""},
      {{"upload", "ID", "a", "b", "c"}, "error: unexpected argument 'c' found"},
      {{"upload", "ID", "", "r"}, "error: LOCAL: a value is required but none was supplied"},
      {{"download", "ID", "r", ""}, "error: LOCAL: a value is required but none was supplied"},
      {{"download", "ID", "r"}, "error: LOCAL is required"},
      {{"list", "x"}, "error: unexpected argument 'x' found"},
      {{"list", "-q"}, ""},
      {{"list", "-q", "a", "-q", "b"}, ""},
      {{"list", "--json", "--json"}, ""},
      {{"list", "--json=false"}, ""},
      {{"exec", "ID", "--stdin=1"}, ""},
      {{"list", "-q", "\xED\xA0\x80"}, "error: --query: invalid UTF-8 was detected in the value"},
      {{"exec", "a\xED\xB0\x80", "x"}, "error: ID: invalid UTF-8 was detected in the value"},
      {{"exec", "ID", "\xED\xA0\x80"}, "error: COMMAND: invalid UTF-8 was detected in the value"},
      {{"upload", "ID", "a", "\xED\xBF\xBF"},
       "error: REMOTE: invalid UTF-8 was detected in the value"},
      {{"help", "nope"}, "error: unrecognized subcommand 'nope'"},
  };
  for (const auto& c : cases) {
    auto cli = parse_words(c.words);
    ASSERT_FALSE(cli) << c.words.front() << " " << describe(*cli);
    const ParseOutcome& outcome = cli.error();
    EXPECT_EQ(outcome.status, 2);
    EXPECT_FALSE(outcome.to_stdout);
    EXPECT_TRUE(outcome.text.starts_with(c.message.empty() ? "error: " : c.message + "\n"))
        << outcome.text;
    EXPECT_NE(outcome.text.find("\nUsage: sorvane"), std::string::npos) << outcome.text;
    EXPECT_TRUE(outcome.text.ends_with("For more information, try '--help'.\n")) << outcome.text;
  }
}

TEST(Parse, ExecOnSeveralHosts) {
  struct Case {
    std::vector<std::string> words;
    std::string expected;  // the record, or the first line of the error
  };
  auto describe_several = [](const Cli::Exec& c) {
    return describe(Cli{c}) + " query=" + optional_text(c.query) +
           " json=" + std::to_string(c.json) + " parallel=" + std::to_string(c.parallel) +
           " timeout=" + (c.timeout ? std::to_string(c.timeout->count()) + "ms" : "none") +
           " max=" + std::to_string(c.max_output);
  };
  const Case cases[] = {
      {{"exec", "a,b", "up"},
       "exec id='a,b' command='up' stdin=0 query=none json=0 parallel=8 timeout=none max=1048576"},
      {{"exec", "-q", "web", "up", "--json", "--parallel", "2", "--timeout", "90", "--max-output",
        "0"},
       "exec id='' command='up' stdin=0 query='web' json=1 parallel=2 timeout=90000ms max=0"},
      {{"exec", "--query", "", "--stdin", "--timeout=5m"},
       "exec id='' command=none stdin=1 query='' json=0 parallel=8 timeout=300000ms max=1048576"},
      {{"exec", "a,", "--timeout", "1h", "x"},
       "exec id='a,' command='x' stdin=0 query=none json=0 parallel=8 timeout=3600000ms "
       "max=1048576"},
      {{"exec", "-q", "w", "ID", "up"}, "error: ID excludes --query"},
      {{"exec", "-q", "w", "up", "--stdin"}, "error: COMMAND excludes --stdin"},
      {{"exec", "-q", "w"}, "error: COMMAND is required unless --stdin is given"},
      {{"exec", "ID", "up", "--parallel", "2"}, "error: unexpected argument '--parallel' found"},
      {{"exec", "ID", "up", "--max-output", "9"},
       "error: unexpected argument '--max-output' found"},
      {{"exec", "a,b", "up", "--parallel", "0"},
       "error: --parallel: not a number from 1 to 1024: 0"},
      {{"exec", "a,b", "up", "--timeout", "0s"},
       "error: --timeout: not a duration (30s, 5m, 1h): 0s"},
      {{"exec", "a,b", "up", "--timeout", "5d"},
       "error: --timeout: not a duration (30s, 5m, 1h): 5d"},
      {{"exec", "a,b", "up", "--timeout", "9999h"},
       "error: --timeout: not a duration (30s, 5m, 1h): 9999h"},
  };
  for (const auto& c : cases) {
    auto cli = parse_words(c.words);
    const std::string got = cli ? describe_several(std::get<Cli::Exec>(cli->command))
                                : cli.error().text.substr(0, cli.error().text.find('\n'));
    EXPECT_EQ(got, c.expected);
  }
}

// Upload and download take the hosts as exec does; without IDs the paths
// move up one place.
TEST(Parse, TransfersOnSeveralHosts) {
  struct Case {
    std::vector<std::string> words;
    std::string expected;  // the record, or the first line of the error
  };
  auto describe_fleet = [](const Cli& cli) {
    return std::visit(
        [&](const auto& c) -> std::string {
          if constexpr (std::is_base_of_v<FleetOptions, std::decay_t<decltype(c)>>) {
            const auto policy = failure_policy(c);
            return describe(cli) + " query=" + optional_text(c.query) +
                   " file=" + (c.hosts_file ? native_to_utf8_lossy(*c.hosts_file) : "none") +
                   " parallel=" + std::to_string(c.parallel) +
                   " policy=" + (policy ? policy->second : "none");
          }
          return "";
        },
        cli.command);
  };
  const Case cases[] = {
      {{"upload", "-q", "web", "a.zip", "~"},
       "upload id='' local='a.zip' remote='~' json=0 query='web' file=none parallel=8 "
       "policy=none"},
      {{"download", "--hosts-file", "f", "/var/log", ".", "--fail-fast"},
       "download id='' remote='/var/log' local='.' json=0 query=none file=f parallel=8 "
       "policy=--fail-fast"},
      {{"upload", "a,b", "x", "y", "--parallel", "2", "--max-fail", "3", "--json"},
       "upload id='a,b' local='x' remote='y' json=1 query=none file=none parallel=2 "
       "policy=--max-fail 3"},
      {{"exec", "--hosts-file", "-", "up", "--max-fail", "1"},
       "exec id='' command='up' stdin=0 query=none file=- parallel=8 policy=--max-fail 1"},
      {{"upload", "-q", "web", "a"}, "error: REMOTE is required"},
      {{"download", "-q", "web"}, "error: REMOTE is required"},
      {{"upload", "-q", "web", "a", "b", "c"}, "error: ID excludes --query"},
      {{"download", "--hosts-file", "f", "r", ""},
       "error: LOCAL: a value is required but none was supplied"},
      {{"upload", "ID", "a", "b", "--fail-fast"}, "error: unexpected argument '--fail-fast' found"},
      {{"exec", "-q", "w", "--hosts-file", "f", "up"}, "error: --query excludes --hosts-file"},
      {{"exec", "--hosts-file", "-", "--stdin"},
       "error: --hosts-file - excludes --stdin: both would read stdin"},
      {{"exec", "a,b", "up", "--max-fail", "0"},
       "error: --max-fail: not a number of hosts (1 or more): 0"},
  };
  for (const auto& c : cases) {
    auto cli = parse_words(c.words);
    const std::string got =
        cli ? describe_fleet(*cli) : cli.error().text.substr(0, cli.error().text.find('\n'));
    EXPECT_EQ(got, c.expected);
  }
}

// A duration is shown in its largest whole unit, and reads back the same.
TEST(FormatDuration, LargestWholeUnitReadBack) {
  const std::pair<const char*, const char*> cases[] = {
      {"90", "90s"}, {"120s", "2m"}, {"1500ms", "1500ms"}, {"60m", "1h"}, {"61m", "61m"},
  };
  for (const auto& [given, shown] : cases) {
    const auto duration = parse_duration(given);
    ASSERT_TRUE(duration) << given;
    EXPECT_EQ(format_duration(*duration), shown) << given;
    EXPECT_EQ(parse_duration(shown), duration) << given;
  }
}

TEST(Parse, LocalPathNeedNotBeUnicode) {
  // Bytes that are not UTF-8 on POSIX; an unpaired surrogate on Windows.
  const std::string word = "a\xED\xA0\x80";
  auto upload = parse_words({"upload", "ID", word, "~"});
  ASSERT_TRUE(upload) << upload.error().text;
  EXPECT_EQ(std::get<Cli::Upload>(upload->command).local, argument_to_native(word));
  EXPECT_FALSE(native_to_utf8(std::get<Cli::Upload>(upload->command).local).has_value());

  auto download = parse_words({"download", "ID", "~", word});
  ASSERT_TRUE(download) << download.error().text;
  EXPECT_EQ(std::get<Cli::Download>(download->command).local, argument_to_native(word));
}

struct HelpCase {
  std::vector<std::string> words;
  std::string about;                  // the first line
  std::string help_flag_description;  // of "-h, --help"
  bool after_help;
};

TEST(Parse, HelpAndVersionGoToStandardOutputWithStatusZero) {
  const std::string top_summary = "Run commands and move files on the SSH hosts saved in Sorvane\n";
  const std::string top_long =
      "Run commands and move files on the SSH hosts saved in Sorvane.\n\n"
      "Sorvane holds the passwords and keys";
  const std::string exec_long =
      "Run one command on a saved host and print its output.\n\nOpens a temporary";
  const HelpCase cases[] = {
      {{"-h"}, top_summary, "Print help (see more with '--help')", true},
      {{"--help"}, top_long, "Print help (see a summary with '-h')", true},
      {{"help"}, top_long, "Print help (see a summary with '-h')", true},
      {{"exec", "-h"},
       "Run one command on a saved host and print its output\n",
       "Print help (see more with '--help')",
       false},
      {{"exec", "--help"}, exec_long, "Print help (see a summary with '-h')", false},
      {{"exec", "ID", "x", "--help"}, exec_long, "Print help (see a summary with '-h')", false},
      {{"help", "exec"}, exec_long, "Print help (see a summary with '-h')", false},
      {{"upload", "--help"},
       "Copy a local file or folder to a saved host.\n\nLike scp:",
       "Print help (see a summary with '-h')",
       false},
      {{"download", "--help"},
       "Copy a file or folder from a saved host to this machine.\n\nDestination rules",
       "Print help (see a summary with '-h')",
       false},
      {{"list", "-h"}, "List the saved hosts\n", "Print help\n", false},
      {{"list", "--help"}, "List the saved hosts\n", "Print help\n", false},
  };
  for (const auto& c : cases) {
    auto cli = parse_words(c.words);
    ASSERT_FALSE(cli);
    const ParseOutcome& outcome = cli.error();
    SCOPED_TRACE(outcome.text);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(outcome.to_stdout);
    EXPECT_TRUE(outcome.text.starts_with(c.about));
    EXPECT_NE(outcome.text.find("-h, --help"), std::string::npos);
    EXPECT_NE(outcome.text.find(c.help_flag_description), std::string::npos);
    const std::string last_line =
        "255 means sorvane could not do what was asked (the reason is printed as `sorvane: [code] "
        "message`).\n";
    EXPECT_EQ(outcome.text.ends_with(last_line), c.after_help);
    EXPECT_EQ(outcome.text.find("复制 ID") != std::string::npos, c.after_help);
  }
}

TEST(Parse, TopLevelHelpListsSubcommandsInOrder) {
  auto cli = parse_words({"-h"});
  ASSERT_FALSE(cli);
  const std::string& text = cli.error().text;
  std::size_t position = 0;
  for (const char* name : {"\n  list ", "\n  exec ", "\n  upload ", "\n  download ", "\n  help "}) {
    const auto found = text.find(name, position);
    ASSERT_NE(found, std::string::npos) << name;
    position = found;
  }
  EXPECT_NE(text.find("-V, --version"), std::string::npos);
}

TEST(Parse, VersionOnlyOnTheTopLevel) {
  for (const char* flag : {"-V", "--version"}) {
    auto cli = parse_words({flag});
    ASSERT_FALSE(cli);
    EXPECT_EQ(cli.error().text, "sorvane 0.1.0-beta.4\n");
    EXPECT_EQ(cli.error().status, 0);
    EXPECT_TRUE(cli.error().to_stdout);
  }
}

// What parse() gives for a command line, in one text to compare.
std::string outcome_of(const Result<Cli, ParseOutcome>& parsed) {
  if (parsed) return "cli: " + describe(*parsed);
  const ParseOutcome& outcome = parsed.error();
  return std::to_string(outcome.status) + (outcome.to_stdout ? " stdout: " : " stderr: ") +
         outcome.text;
}

// parse() defines only the subcommand that the first word names. Every
// command line must come out as it does with all of them defined: any two
// words, a subcommand and any two more, and longer runs of them.
TEST(Parse, OneSubcommandParsesAsWithAllDefined) {
  const std::vector<std::string> words = {
      "ID",        "uname -a",     "主机",  "\xED\xA0\x80", "",         "-",
      "--",        "-q",           "-qweb", "--query",      "--query=", "--que",
      "--json",    "--json=false", "--js",  "--stdin",      "-h",       "--help",
      "--version", "-V",           "-x",    "list",         "exec",     "upload",
      "download",  "help",         "lis",   "LIST",         "--help=",  "/tmp/a"};
  std::vector<std::vector<std::string>> lines;
  std::uint32_t random = 16;  // the same lines on every platform
  auto any_word = [&] {
    random = random * 1664525 + 1013904223;
    return words[(random >> 8) % words.size()];
  };
  for (const auto& first : words) {
    for (const auto& second : words) {
      lines.push_back({first, second});
      for (const auto& third : words) {
        if (first == "list" || first == "exec" || first == "upload" || first == "download") {
          lines.push_back({first, second, third});
        }
      }
    }
  }
  for (int n = 0; n < 1000; ++n) {
    lines.push_back({any_word()});
    for (std::uint32_t more = (random >> 8) % 6; more > 0; --more)
      lines.back().push_back(any_word());
  }
  for (const auto& line : lines) {
    const auto arguments = arguments_of(line);
    ASSERT_EQ(outcome_of(parse(arguments)), outcome_of(parse(arguments, true)))
        << testing::PrintToString(line);
  }
}

TEST(Parse, NoArgumentsShowsTheTopLevelHelpAsAnError) {
  const std::vector<NativeString> arguments{utf8_to_native("sorvane")};
  auto cli = parse(arguments);
  ASSERT_FALSE(cli);
  EXPECT_EQ(cli.error().status, 2);
  EXPECT_FALSE(cli.error().to_stdout);
  EXPECT_TRUE(cli.error().text.starts_with(
      "Run commands and move files on the SSH hosts saved in Sorvane\n"));
  EXPECT_NE(cli.error().text.find("启用外部 CLI"), std::string::npos);
}

}  // namespace
}  // namespace sorvane

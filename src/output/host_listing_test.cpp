#include "output/host_listing.h"

#include <gtest/gtest.h>

#include "output/recording_stream_for_tests.h"

namespace sorvane {
namespace {

using testing::RecordedStreams;

HostInfo make_host(std::string id, std::string name, std::optional<std::string> group,
                   std::string user, std::string host, std::uint16_t port,
                   std::optional<std::string> os) {
  return HostInfo{std::move(id),   std::move(name), std::move(group),
                  std::move(user), std::move(host), port,
                  std::move(os)};
}

HostInfo web_host() {
  return make_host("0123456789abcdef", "web-1", std::nullopt, "root", "10.0.0.5", 22, "ubuntu");
}
HostInfo db_host() {
  return make_host("fedcba9876543210", "db", "生产", "admin", "10.0.0.16", 2222, std::nullopt);
}

std::string table_of(const std::vector<HostInfo>& hosts) {
  RecordedStreams io(false);
  EXPECT_TRUE(print_hosts(hosts, io.streams));
  EXPECT_EQ(io.err.text, "");
  return io.out.text;
}

std::string json_of(const std::vector<HostInfo>& hosts) {
  RecordedStreams io(true);
  EXPECT_TRUE(print_hosts(hosts, io.streams));
  EXPECT_EQ(io.err.text, "");
  return io.out.text;
}

TEST(OsDisplayName, ExactKeysOnly) {
  struct Case {
    std::string_view key;
    std::string_view shown;
  };
  const Case cases[] = {
      {"ubuntu", "Ubuntu"}, {"rhel", "Red Hat"},
      {"suse", "openSUSE"}, {"raspbian", "Raspberry Pi OS"},
      {"macos", "macOS"},   {"netbsd", "NetBSD"},
      {"Ubuntu", ""},       {"opensuse", ""},
      {"redhat", ""},       {"", ""},
      {" ubuntu", ""},      {"ubuntu ", ""},
      {"UBUNTU", ""},       {std::string_view("ubuntu\0", 7), ""},
  };
  for (const Case& c : cases) EXPECT_EQ(os_display_name(c.key), c.shown) << c.key;
}

TEST(HostTable, TwoHostExample) {
  // Widths 16 / 5 / 4 / 20 / 6; trailing padding removed from every line.
  EXPECT_EQ(table_of({web_host(), db_host()}),
            "ID                名称   分组  地址                  系统\n"
            "0123456789abcdef  web-1        root@10.0.0.5:22      Ubuntu\n"
            "fedcba9876543210  db     生产  admin@10.0.0.16:2222\n");
}

TEST(HostTable, WideNamesKeepLaterColumnsAligned) {
  // 数据库服务器 is 12 columns wide; "web" is padded to match.
  auto wide = make_host("a", "数据库服务器", "测试", "u", "h", 1, "debian");
  auto narrow = make_host("b", "web", std::nullopt, "u", "h", 1, "debian");
  EXPECT_EQ(table_of({wide, narrow}),
            "ID  名称          分组  地址   系统\n"
            "a   数据库服务器  测试  u@h:1  Debian\n"
            "b   web                 u@h:1  Debian\n");
}

TEST(HostTable, Ipv6AddressIsNotBracketed) {
  auto host = make_host("x", "v6", std::nullopt, "root", "fe80::1", 22, std::nullopt);
  EXPECT_EQ(table_of({host}),
            "ID  名称  分组  地址             系统\n"
            "x   v6          root@fe80::1:22\n");
}

TEST(HostTable, WholeTableIsOneWrite) {
  RecordedStreams io(false);
  ASSERT_TRUE(print_hosts({web_host(), db_host(), web_host()}, io.streams));
  EXPECT_EQ(io.out.writes, 1);
  EXPECT_EQ(io.err.writes, 0);
}

TEST(HostTable, EmptyListIsAMessageOnStandardError) {
  RecordedStreams io(false);
  ASSERT_TRUE(print_hosts({}, io.streams));
  EXPECT_EQ(io.out.text, "");
  EXPECT_EQ(io.out.writes, 0);
  EXPECT_EQ(io.err.text, "没有匹配的主机\n");
}

TEST(HostJson, OneHostIsElevenLines) {
  EXPECT_EQ(json_of({db_host()}),
            "[\n"
            "  {\n"
            "    \"id\": \"fedcba9876543210\",\n"
            "    \"name\": \"db\",\n"
            "    \"group\": \"生产\",\n"
            "    \"user\": \"admin\",\n"
            "    \"host\": \"10.0.0.16\",\n"
            "    \"port\": 2222,\n"
            "    \"os\": null\n"
            "  }\n"
            "]\n");
}

TEST(HostJson, NullsRawOsKeysAndObjectSeparator) {
  // The os key is printed as received, even one the table would not show.
  auto odd_os = make_host("b", "n", std::nullopt, "u", "::1", 65535, "Ubuntu");
  const std::string json = json_of({web_host(), odd_os});
  EXPECT_NE(json.find("    \"group\": null,\n"), std::string::npos) << json;
  EXPECT_NE(json.find("    \"os\": \"ubuntu\"\n  },\n  {\n    \"id\": \"b\",\n"), std::string::npos)
      << json;
  EXPECT_NE(json.find("    \"port\": 65535,\n    \"os\": \"Ubuntu\"\n  }\n]\n"), std::string::npos)
      << json;
}

TEST(HostJson, StringsAreEscapedLikeTheRequest) {
  auto host = make_host("i",
                        "a\"b\\c\td\x01"
                        "e\nf/é中\x7f",
                        "\b\f\r\x1f", "u", "h", 1, std::nullopt);
  const std::string json = json_of({host});
  EXPECT_NE(json.find("    \"name\": \"a\\\"b\\\\c\\td\\u0001e\\nf/é中\x7f\",\n"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("    \"group\": \"\\b\\f\\r\\u001f\",\n"), std::string::npos) << json;
}

TEST(HostJson, EmptyList) { EXPECT_EQ(json_of({}), "[]\n"); }

TEST(PrintHosts, FailedWriteIsReturned) {
  for (bool json : {false, true}) {
    for (bool empty : {false, true}) {
      RecordedStreams io(json);
      io.out.fail_writes = true;
      io.err.fail_writes = true;
      std::vector<HostInfo> hosts;
      if (!empty) hosts.push_back(web_host());
      auto result = print_hosts(hosts, io.streams);
      ASSERT_FALSE(result) << json << empty;
      EXPECT_EQ(result.error().text, "broken pipe (os error 32)");
    }
  }
}

}  // namespace
}  // namespace sorvane

#include "mcp/roots.h"

#include <gtest/gtest.h>

#include <map>

namespace sorvane::mcp {
namespace {

TEST(PathFromFileUri, DecodesBothStyles) {
  struct Case {
    const char* uri;
    PathStyle style;
    const char* path;  // nullptr: refused
  };
  const Case cases[] = {
      {"file:///home/u/my%20project", PathStyle::Posix, "/home/u/my project"},
      {"file://localhost/srv", PathStyle::Posix, "/srv"},
      {"FILE://LocalHost/srv", PathStyle::Posix, "/srv"},
      {"file:/srv/%E4%BD%A0", PathStyle::Posix, "/srv/\xE4\xBD\xA0"},
      {"file:///a/%2e%2E/b", PathStyle::Posix, "/a/../b"},  // resolved later, like any path
      {"file://server/share", PathStyle::Posix, nullptr},   // no remote folders here
      {"file:///a%00b", PathStyle::Posix, nullptr},
      {"file:///a%2", PathStyle::Posix, nullptr},
      {"file:///a%zz", PathStyle::Posix, nullptr},
      {"file:///a?x=1", PathStyle::Posix, nullptr},
      {"file:///a#top", PathStyle::Posix, nullptr},
      {"https://example.com/a", PathStyle::Posix, nullptr},
      {"file:relative", PathStyle::Posix, nullptr},
      {"file:///C:/Users/Me", PathStyle::Windows, "C:\\Users\\Me"},
      {"file:///c%3A/a%20b/", PathStyle::Windows, "c:\\a b\\"},
      {"file:///D|/old", PathStyle::Windows, "D:\\old"},
      {"file:///C:", PathStyle::Windows, "C:\\"},
      {"file://server/share/dir", PathStyle::Windows, "\\\\server\\share\\dir"},
      {"file:////server/share", PathStyle::Windows, "\\\\server\\share"},
      {"file://localhost/C:/x", PathStyle::Windows, "C:\\x"},
      {"file:///C:relative", PathStyle::Windows, nullptr},
      {"file:///home/u", PathStyle::Windows, nullptr},  // no drive
      {"file://server", PathStyle::Windows, nullptr},
      {"file:///C:/%FF", PathStyle::Windows, nullptr},  // not UTF-8
  };
  for (const Case& c : cases) {
    const auto path = path_from_file_uri(c.uri, c.style);
    if (c.path == nullptr) {
      EXPECT_FALSE(path) << c.uri << " gave " << *path;
    } else {
      ASSERT_TRUE(path) << c.uri;
      EXPECT_EQ(*path, c.path) << c.uri;
    }
  }
}

// /work is allowed; /work/out is a link that leads outside it, /link-to-work
// one that leads into it.
IoResult<std::string> fake_resolve(const std::string& path) {
  class Files final : public PathInspector {
   public:
    PathEntry inspect(const std::string& at) override {
      static const std::map<std::string, PathEntry> ENTRIES = {
          {"/work", {PathEntry::Kind::Present, {}}},
          {"/work/out", {PathEntry::Kind::Link, "/home/u/.ssh"}},
          {"/link-to-work", {PathEntry::Kind::Link, "work"}},
          {"/home", {PathEntry::Kind::Present, {}}},
      };
      const auto found = ENTRIES.find(at);
      return found == ENTRIES.end() ? PathEntry{} : found->second;
    }
  } files;
  return resolve_links(path, PathStyle::Posix, files);
}

TEST(CheckConfined, FollowsLinksOnBothSides) {
  const std::vector<std::string> roots = {"/link-to-work"};
  const auto check = [&](const char* path) {
    return check_confined(path, roots, PathStyle::Posix, fake_resolve);
  };
  EXPECT_FALSE(check("/work/new/file"));
  EXPECT_FALSE(check("/link-to-work/a"));
  EXPECT_FALSE(check("/work"));

  const auto escaped = check("/work/out/id_ed25519");
  ASSERT_TRUE(escaped);
  EXPECT_EQ(escaped->code, ErrorCode::BadRequest);
  EXPECT_EQ(escaped->message,
            "the local path /work/out/id_ed25519 (which leads to /home/u/.ssh/id_ed25519) is "
            "outside the allowed folders: /link-to-work");
  EXPECT_TRUE(check("/workshop"));

  const auto none = check_confined("/work/a", {}, PathStyle::Posix, fake_resolve);
  ASSERT_TRUE(none);
  EXPECT_NE(none->message.find("--local-root DIR"), std::string::npos) << none->message;
}

// A download into /work writes /work/<remote name>; /work/out is a link that
// leads out, planted where a remote "out" would land.
TEST(CheckDownloadConfined, ChecksTheFileThatLandsInTheFolder) {
  const std::vector<std::string> roots = {"/work"};
  const IsFolder is_folder = [](const std::string& path) { return path.starts_with("/work"); };
  const auto check = [&](const char* local, const char* remote) {
    return check_download_confined(local, remote, roots, PathStyle::Posix, fake_resolve, is_folder);
  };
  const auto planted = check("/work", "/home/them/out");
  ASSERT_TRUE(planted);
  EXPECT_EQ(planted->message,
            "the local path /work/out (which leads to /home/u/.ssh) is outside the allowed "
            "folders: /work");
  EXPECT_TRUE(check("/work/", "out/"));
  EXPECT_TRUE(check("/work", "C:\\Users\\them\\out"));  // a host that writes backslashes
  EXPECT_FALSE(check("/work", "/home/them/.bashrc"));
  EXPECT_FALSE(check("/work/new", "/srv/out"));  // missing: the copy lands at /work/new

  // Names only the remote host knows: refused into a folder, whatever it holds.
  for (const char* remote : {"/home/them/out/.", "/srv/x/./", "/srv/x\\.", "/srv/x/..", "~", "~/",
                             "~them", "..", "/", "", "C:"}) {
    const auto unknown = check("/work", remote);
    ASSERT_TRUE(unknown) << remote;
    EXPECT_NE(unknown->message.find("name the destination in full"), std::string::npos);
    EXPECT_FALSE(check_download_confined("/elsewhere/new", remote, {"/elsewhere"}, PathStyle::Posix,
                                         fake_resolve, is_folder))
        << remote;  // not a folder: the copy lands at the path given
  }
  EXPECT_EQ(landing_names("~/a/~b\\c", PathStyle::Posix), (std::vector<std::string>{"~b\\c", "c"}));
  // Not "C:\\dl\\C:\\Users\\f", which would read as a stream of "C:\\dl\\C".
  EXPECT_EQ(landing_names("C:\\Users\\f", PathStyle::Windows), std::vector<std::string>{"f"});
}

TEST(ClientRoots, AsksOnlyWhenTheListMayHaveChanged) {
  ClientRoots roots;
  int asked = 0;
  std::vector<std::string> listed = {"/a"};
  const ClientRoots::Ask ask = [&]() -> std::optional<std::vector<std::string>> {
    ++asked;
    return listed;
  };
  EXPECT_TRUE(roots.current(ask).empty());  // the client offers none
  EXPECT_EQ(asked, 0);

  roots.offered();
  EXPECT_EQ(roots.current(ask), listed);
  EXPECT_EQ(roots.current(ask), listed);
  EXPECT_EQ(asked, 1);

  roots.changed();
  listed = {"/b"};
  EXPECT_EQ(roots.current(ask), listed);
  EXPECT_EQ(asked, 2);

  // A change while the list is on its way: that list serves once, not after.
  roots.changed();
  const ClientRoots::Ask changing = [&]() -> std::optional<std::vector<std::string>> {
    ++asked;
    roots.changed();
    return listed;
  };
  EXPECT_EQ(roots.current(changing), listed);
  EXPECT_EQ(roots.current(ask), listed);
  EXPECT_EQ(asked, 4);
}

}  // namespace
}  // namespace sorvane::mcp

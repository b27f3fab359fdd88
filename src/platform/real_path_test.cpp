#include "platform/real_path.h"

#include <gtest/gtest.h>

#include <map>

namespace sorvane {
namespace {

// A file system of named entries; anything else is missing.
class FakeFiles final : public PathInspector {
 public:
  explicit FakeFiles(std::map<std::string, PathEntry> entries) : entries_(std::move(entries)) {}
  PathEntry inspect(const std::string& path) override {
    const auto found = entries_.find(path);
    return found == entries_.end() ? PathEntry{} : found->second;
  }

 private:
  std::map<std::string, PathEntry> entries_;
};

PathEntry dir() { return {PathEntry::Kind::Present, {}}; }
PathEntry link(const char* target) { return {PathEntry::Kind::Link, target}; }

struct Case {
  const char* path;
  const char* expected;  // nullptr: fails
};

template <std::size_t N>
void expect_resolved(FakeFiles& files, PathStyle style, const Case (&cases)[N]) {
  for (const Case& c : cases) {
    auto resolved = resolve_links(c.path, style, files);
    if (c.expected == nullptr) {
      EXPECT_FALSE(resolved) << c.path << " gave " << *resolved;
    } else {
      ASSERT_TRUE(resolved) << c.path << ": " << resolved.error().text;
      EXPECT_EQ(*resolved, c.expected) << c.path;
    }
  }
}

TEST(ResolveLinks, FollowsLinksLikeTheSystem) {
  FakeFiles files({
      {"/work", dir()},
      {"/work/proj", dir()},
      {"/work/proj/up", link("../../etc")},  // relative, through real parents
      {"/etc", dir()},
      {"/work/key", link("/home/u/.ssh/id")},  // dangling: its target does not exist
      {"/work/abs", link("/etc/")},
      {"/work/chain", link("abs/x")},
      {"/work/loop", link("loop2")},
      {"/work/loop2", link("/work/loop")},
      {"/work/locked", {PathEntry::Kind::Unreadable, "Permission denied"}},
      {"/home", dir()},
  });
  const Case cases[] = {
      {"/work/proj/file", "/work/proj/file"},   // missing tail kept as written
      {"/work/proj/up/passwd", "/etc/passwd"},  // link with ".." in its target
      {"/work/proj/up/../x", "/x"},             // ".." after a link: the real parent
      {"/work/key", "/home/u/.ssh/id"},         // a dangling link leads where it points
      {"/work/chain", "/etc/x"},                // a link through a link
      {"/work/./proj//.", "/work/proj"},        //
      {"/../work", "/work"},                    //
      {"/", "/"},                               //
      {"/work/loop", nullptr},                  // a loop ends
      {"/work/locked/x", nullptr},              // what cannot be looked at refuses
      {"/work/new/../x", nullptr},              // ".." through a missing folder
      {"work", nullptr},                        // relative
  };
  expect_resolved(files, PathStyle::Posix, cases);
}

TEST(ResolveLinks, WindowsForms) {
  FakeFiles files({
      {"C:\\Users", dir()},
      {"C:\\Users\\me", link("\\\\?\\D:\\Data\\me")},
      {"\\\\srv\\share\\a", link("\\\\?\\UNC\\srv\\other\\b")},
  });
  const Case cases[] = {
      {"C:/Users/me/x", "D:\\Data\\me\\x"},
      {"\\\\?\\C:\\Users\\me", "D:\\Data\\me"},
      {"\\\\srv\\share\\a\\f", "\\\\srv\\other\\b\\f"},
      {"\\\\?\\UNC\\srv\\share\\a", "\\\\srv\\other\\b"},
      {"\\\\.\\pipe\\x", nullptr},  // devices are no files to confine
      {"C:relative", nullptr},
      {"\\rooted", nullptr},
  };
  expect_resolved(files, PathStyle::Windows, cases);
}

// Another process opens the path: where it leads for this one proves nothing.
TEST(ResolveLinks, RefusesPerProcessViewsAtEveryStep) {
  FakeFiles files({
      {"/work", dir()},
      {"/work/here", link("/proc/self/cwd")},
      {"/work/input", link("../dev/stdin")},
      {"/work/proc", dir()},
      {"/dev", dir()},
      {"/mnt", dir()},
      {"/mnt/p", {PathEntry::Kind::PerProcess, "a proc file system"}},
  });
  const Case posix[] = {
      {"/proc/self/cwd/.bashrc", nullptr},
      {"/proc/thread-self/cwd/secret", nullptr},
      {"/proc/../work/x", nullptr},  // passes /proc on the way
      {"/dev/fd/3", nullptr},
      {"/work/here/secret", nullptr},  // a link in an allowed folder
      {"/work/input", nullptr},
      {"/mnt/p/self", nullptr},
      {"/work/proc/x", "/work/proc/x"},
  };
  expect_resolved(files, PathStyle::Posix, posix);
  auto refused = resolve_links("/work/here/x", PathStyle::Posix, files);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().text,
            "cannot resolve /work/here/x: /proc is a per-process view: each process that opens it "
            "sees its own");

  FakeFiles windows_files({{"C:\\work", dir()}, {"C:\\work\\dev", link("C:\\work\\NUL")}});
  const Case windows[] = {
      {"C:\\work\\file.txt:hidden", nullptr},
      {"C:\\work\\nul", nullptr},
      {"C:\\work\\Con.txt", nullptr},
      {"C:\\work\\com1 .log", nullptr},
      {"C:\\work\\LPT\xC2\xB9", nullptr},
      {"C:\\new\\aux\\x", nullptr},  // below a missing folder too
      {"C:\\work\\dev", nullptr},    // a link to a device
      {"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\x", nullptr},
      {"\\\\.\\C:\\x", nullptr},
      {"C:\\work\\console", "C:\\work\\console"},
      {"C:\\work\\com10", "C:\\work\\com10"},
      {"C:\\work\\nul_file", "C:\\work\\nul_file"},
      {"\\\\?\\C:\\work\\x", "C:\\work\\x"},
  };
  expect_resolved(windows_files, PathStyle::Windows, windows);
}

TEST(PathWithin, WholeComponentsOnlyAndCaseAsTheSystem) {
  struct Within {
    const char* path;
    const char* root;
    PathStyle style;
    bool inside;
  };
  const Within cases[] = {
      {"/root", "/root", PathStyle::Posix, true},
      {"/root/a/b", "/root", PathStyle::Posix, true},
      {"/root2/a", "/root", PathStyle::Posix, false},
      {"/Root/a", "/root", PathStyle::Posix, false},
      {"/anything", "/", PathStyle::Posix, true},
      {"c:\\work\\X", "C:\\Work", PathStyle::Windows, true},
      {"D:\\work", "C:\\work", PathStyle::Windows, false},
      {"\\\\srv\\share\\x", "\\\\?\\UNC\\SRV\\share", PathStyle::Windows, true},
      {"\\\\srv\\share2\\x", "\\\\srv\\share", PathStyle::Windows, false},
  };
  for (const Within& c : cases) {
    EXPECT_EQ(path_within(c.path, c.root, c.style), c.inside) << c.path << " in " << c.root;
  }
}

}  // namespace
}  // namespace sorvane

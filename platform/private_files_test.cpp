#include "platform/private_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/system.h"
#include "platform/temp_dir_testing.h"

namespace lcx {
namespace {

constexpr uid_t kNobody = 65534;

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 01000000;
}

// The tests run as root, so "another account" is a folder chowned to nobody.
TEST(PrivateFiles, FoldersAreMadeTightenedOrRefused) {
  TestDir dir("lcx-private");
  struct Case {
    const char* name;
    void (*prepare)(const std::string& path);
    bool ours;
    unsigned mode;  // after the call
  } cases[] = {
      {"missing: made 0700", [](const std::string&) {}, true, 0700},
      {"ours and looser: tightened", [](const std::string& p) { ::mkdir(p.c_str(), 0777); ::chmod(p.c_str(), 0755); },
       true, 0700},
      {"another account's", [](const std::string& p) {
         ::mkdir(p.c_str(), 0777);
         ASSERT_EQ(::chown(p.c_str(), kNobody, kNobody), 0);
         ::chmod(p.c_str(), 0777);
       },
       false, 0777},
      {"a link to a folder of ours", [](const std::string& p) { ASSERT_EQ(::symlink("/tmp", p.c_str()), 0); }, false, 0777},
      {"a plain file", [](const std::string& p) { WriteFileSynced(p, "x"); }, false, 0600},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.Sub("f" + std::to_string(n++));
    c.prepare(path);
    EXPECT_EQ(EnsurePrivateFolder(path), c.ours);
    EXPECT_EQ(ModeOf(path), c.mode);
  }
  EXPECT_EQ(ModeOf("/tmp") & 01777, 01777u) << "the link's target is left alone";
}

TEST(PrivateFiles, RuntimeFallbackCarriesTheUserAndMustBeOurs) {
  TestDir tmp("lcx-private");
  ScopedEnv env;
  env.Unset("XDG_RUNTIME_DIR");
  env.Set("TMPDIR", tmp.path());
  const std::string expected = tmp.Sub("lumicast-" + std::to_string(::getuid()));
  EXPECT_EQ(RuntimeDir(), expected);
  EXPECT_EQ(ModeOf(expected), 0700u);

  ASSERT_EQ(::chown(expected.c_str(), kNobody, kNobody), 0);
  EXPECT_EQ(RuntimeDir(), "") << "a name another account made first is not used";
  ::rmdir(expected.c_str());
  ASSERT_EQ(::symlink(tmp.path().c_str(), expected.c_str()), 0);
  EXPECT_EQ(RuntimeDir(), "") << "nor a link standing in its place";
}

TEST(PrivateFiles, UniqueFilesAreFreshAndPrivate) {
  TestDir dir("lcx-private");
  ::umask(0);
  const std::string a = WriteUniqueFile(dir.path(), "page-", ".html", "<p>1</p>");
  const std::string b = WriteUniqueFile(dir.path(), "page-", ".html", "<p>2</p>");
  ::umask(022);
  ASSERT_FALSE(a.empty());
  ASSERT_NE(a, b);
  EXPECT_EQ(a.rfind(dir.Sub("page-"), 0), 0u);
  EXPECT_EQ(a.substr(a.size() - 5), ".html");
  EXPECT_EQ(ModeOf(a), 0600u);
  std::string text;
  ASSERT_TRUE(ReadWholeFile(b, text));
  EXPECT_EQ(text, "<p>2</p>");
  EXPECT_EQ(WriteUniqueFile("", "page-", ".html", "x"), "") << "no private folder, no file";
}

TEST(PrivateFiles, SecretIsMadeOnceAndKept) {
  TestDir dir("lcx-private");
  const std::string path = dir.Sub("key");
  auto first = ReadOrCreateSecret(path, 32);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->size(), 32u);
  EXPECT_EQ(ModeOf(path), 0600u);
  EXPECT_EQ(ReadOrCreateSecret(path, 32), first);
  EXPECT_NE(ReadOrCreateSecret(dir.Sub("other"), 32), first);
  ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
  EXPECT_FALSE(ReadOrCreateSecret(path, 32)) << "a key another account placed is not ours";
}

}  // namespace
}  // namespace lcx

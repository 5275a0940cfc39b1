// Result files and the file search on the real file system, in a scratch
// directory of their own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/System.h"
#include "platform/TextFile.h"

namespace {

class PosixFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vekton-posix-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::string cmd = "chmod -R u+w '" + dir_ + "' && rm -rf '" + dir_ + "'";
    (void)std::system(cmd.c_str());
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  static void Put(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
  static std::string Content(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY);
    std::string s;
    char buf[256];
    ssize_t n;
    while (fd >= 0 && (n = read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
    if (fd >= 0) close(fd);
    return s;
  }
  std::string dir_;
};

TEST_F(PosixFiles, ResultFileIsNewAndEachLineLandsAtOnce) {
  const std::string existing = Path("1234_00.spf");
  Put(existing, "earlier run\n");
  TextFile f;
  EXPECT_EQ(TextFileCreateNew(f, existing), EEXIST);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(Content(existing), "earlier run\n");  // never overwritten

  const std::string path = Path("1234_01.spf");
  ASSERT_EQ(TextFileCreateNew(f, path), 0);
  ASSERT_TRUE(f.IsOpen());
  EXPECT_EQ(Content(path), "");
  ASSERT_EQ(TextFileWriteLine(f, "Operator: Kim"), 0);
  EXPECT_EQ(Content(path), "Operator: Kim\n");  // read back through another descriptor
  ASSERT_EQ(TextFileWriteLine(f, ""), 0);
  ASSERT_EQ(TextFileWriteLine(f, "12:00 21.5 C \xb3 45 %"), 0);
  EXPECT_EQ(Content(path), "Operator: Kim\n\n12:00 21.5 C \xb3 45 %\n");
  TextFileClose(f);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(TextFileWriteLine(f, "after close"), EBADF);
  TextFileClose(f);  // harmless twice

  EXPECT_EQ(TextFileCreateNew(f, Path("no-such-dir/x.spf")), ENOENT);
}

TEST_F(PosixFiles, ResultFileInReadOnlyDirectory) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  ASSERT_EQ(chmod(dir_.c_str(), 0555), 0);
  TextFile f;
  EXPECT_EQ(TextFileCreateNew(f, Path("1234_00.spf")), EACCES);
  EXPECT_FALSE(f.IsOpen());
}

TEST_F(PosixFiles, FileSearchLooksHereFirstThenAlongTheList) {
  ASSERT_EQ(mkdir(Path("a").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(Path("b").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(Path("here").c_str(), 0755), 0);
  Put(Path("b/77_00.spf"), "");
  Put(Path("a/77_01.spf"), "");
  Put(Path("b/77_01.spf"), "");
  Put(Path("here/77_01.spf"), "");
  ASSERT_EQ(mkdir(Path("a/77_02.spf").c_str(), 0755), 0);  // a directory is no file

  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(Path("here").c_str()), 0);
  const std::string list = "::" + Path("a") + ":" + Path("b") + "/";
  EXPECT_EQ(FSearch("77_00.spf", list), Path("b/77_00.spf"));
  EXPECT_EQ(FSearch("77_01.spf", list), "77_01.spf");  // the current directory wins
  EXPECT_EQ(FSearch("77_02.spf", list), "");
  EXPECT_EQ(FSearch("77_03.spf", list), "");
  EXPECT_EQ(FSearch("77_00.spf", ""), "");
  EXPECT_EQ(FSearch("", list), "");
  ASSERT_EQ(chdir(old), 0);
}

TEST(PosixSystem, EnvironmentAndClock) {
  setenv("VEKTON_TEST_VAR", "C:\\x;y", 1);
  EXPECT_EQ(GetEnv("VEKTON_TEST_VAR"), "C:\\x;y");
  unsetenv("VEKTON_TEST_VAR");
  EXPECT_EQ(GetEnv("VEKTON_TEST_VAR"), "");

  // The clock is the local time of day: compare with the C library's view,
  // allowing for a second that turns between the two readings.
  uint16_t h, m, s, hs, y, mo, d, dow;
  // (time() reads a coarser clock that may lag, hence clock_gettime.)
  timespec before{}, after{};
  clock_gettime(CLOCK_REALTIME, &before);
  GetTime(h, m, s, hs);
  GetDate(y, mo, d, dow);
  clock_gettime(CLOCK_REALTIME, &after);
  tm lb{}, la{};
  localtime_r(&before.tv_sec, &lb);
  localtime_r(&after.tv_sec, &la);
  long ours = h * 3600L + m * 60 + s;
  long lo = lb.tm_hour * 3600L + lb.tm_min * 60 + lb.tm_sec;
  long hi = la.tm_hour * 3600L + la.tm_min * 60 + la.tm_sec;
  EXPECT_TRUE((ours >= lo && ours <= hi) || hi < lo) << ours << " " << lo << " " << hi;
  EXPECT_LE(hs, 99);
  EXPECT_EQ(y, la.tm_year + 1900);
  EXPECT_EQ(mo, la.tm_mon + 1);
  EXPECT_EQ(d, la.tm_mday);
  EXPECT_EQ(dow, la.tm_wday);
}

}  // namespace

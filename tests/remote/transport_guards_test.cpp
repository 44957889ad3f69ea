// What the front ends share against careless and hostile hosts: files that
// hold secrets.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "remote/transport/private_file.h"

namespace pts::remote {
namespace {

class PrivateFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/pts-private-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Write(const std::string& name, const std::string& text, mode_t mode) {
    const std::string path = dir_ + "/" + name;
    FILE* f = std::fopen(path.c_str(), "w");
    std::fputs(text.c_str(), f);
    std::fclose(f);
    chmod(path.c_str(), mode);
    return path;
  }
  std::string dir_;
};

TEST_F(PrivateFileTest, OnlyTheOwnersRegularFilesOfTheirSize) {
  const struct {
    mode_t mode;
    size_t size;
    bool ok;
    const char* says;
  } cases[] = {
      {0600, 10, true, ""},         {0400, 10, true, ""},
      {0700, 10, true, ""},         {0640, 10, false, "(mode 0640; chmod go-rwx)"},
      {0620, 10, false, "open to"}, {0610, 10, false, "open to"},
      {0604, 10, false, "open to"}, {0602, 10, false, "open to"},
      {0644, 10, false, "open to"}, {0600, 4, false, "too large"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    const std::string path = Write("secret", "0123456789", c.mode);
    std::string text = "old", error;
    EXPECT_EQ(ReadPrivateFile(path, "key file", c.size, &text, &error), c.ok) << error;
    if (c.ok) {
      EXPECT_EQ(text, "0123456789");
    } else {
      EXPECT_EQ(text, "old");  // nothing of a refused file
      EXPECT_NE(error.find("key file '" + path + "'"), std::string::npos) << error;
      EXPECT_NE(error.find(c.says), std::string::npos) << error;
      EXPECT_EQ(error.find('\n'), std::string::npos);
    }
    unlink(path.c_str());
  }
}

TEST_F(PrivateFileTest, RefusesWhatIsNoFile) {
  const std::string fifo = dir_ + "/fifo", sub = dir_ + "/dir";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);  // opened, never waited on
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  for (const std::string& path : {fifo, sub, dir_ + "/missing"}) {
    std::string text, error;
    EXPECT_FALSE(ReadPrivateFile(path, "token file", 4096, &text, &error)) << path;
    EXPECT_NE(error.find(path), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace pts::remote

#include "VelloraCore/Platform/FileSystem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>

#include "tests/support/TemporaryDirectory.h"

namespace vellora {
namespace {

TEST(FileSystemTest, standardizesPathsLexically) {
  struct Case {
    const char* path;
    const char* expected;
  } cases[] = {
      {"/a//b/./c/../d/", "/a/b/d"},
      {"/", "/"},
      {"/..", "/"},
      {"/a/../../b", "/b"},
      {"a/./b/..", "a"},
      {"../x", "../x"},
      {"/x/.codex/generated_images/../../../Users/u/p.png", "/Users/u/p.png"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FileSystem::standardizedPath(c.path), c.expected) << c.path;
  }
}

class PosixFileSystemTest : public ::testing::Test {
 protected:
  test::TemporaryDirectory home_;
  std::unique_ptr<FileSystem> fileSystem_ = makePosixFileSystem();
};

TEST_F(PosixFileSystemTest, executableMeansARegularFileWithTheExecuteBit) {
  const std::string tool = home_.writeFile("bin/tool", "#!/bin/sh\n", 0755);
  const std::string plain = home_.writeFile("bin/plain", "x", 0644);
  ASSERT_EQ(::mkdir((home_ / "bin/codex").c_str(), 0755), 0);
  ASSERT_EQ(::symlink(tool.c_str(), (home_ / "bin/link").c_str()), 0);
  ASSERT_EQ(::symlink((home_ / "missing").c_str(), (home_ / "bin/dangling").c_str()), 0);
  struct Case {
    const char* name;
    bool executable;
  } cases[] = {{"tool", true},   {"link", true},      {"plain", false},
               {"codex", false}, {"dangling", false}, {"absent", false}};
  for (const Case& c : cases) {
    EXPECT_EQ(fileSystem_->isExecutableFile(home_ / (std::string("bin/") + c.name)), c.executable)
        << c.name;
  }
  EXPECT_TRUE(fileSystem_->isDirectory(home_ / "bin/codex"));
  EXPECT_FALSE(fileSystem_->fileExists(home_ / "bin/dangling"));
  EXPECT_TRUE(fileSystem_->isRegularFile(plain));
}

TEST_F(PosixFileSystemTest, listsDirectoriesWithoutHiddenEntries) {
  home_.writeFile("d/b", "");
  home_.writeFile("d/.hidden", "");
  home_.writeFile("d/a/inner", "");
  EXPECT_EQ(fileSystem_->contentsOfDirectory(home_ / "d"), (std::vector<std::string>{"a", "b"}));
  EXPECT_THROW(fileSystem_->contentsOfDirectory(home_ / "none"), FileSystemError);
}

TEST_F(PosixFileSystemTest, readsWholeFilesUpToALimit) {
  const std::string path = home_.writeFile("f", std::string(1000, 'x'));
  EXPECT_EQ(fileSystem_->readFile(path, 1000).size(), 1000u);
  try {
    fileSystem_->readFile(path, 999);
    ADD_FAILURE() << "read past the limit";
  } catch (const FileSystemError& error) {
    EXPECT_EQ(error.errorNumber(), EFBIG);
  }
  EXPECT_THROW(fileSystem_->readFile(home_.path(), 10), FileSystemError);
  EXPECT_THROW(fileSystem_->readFile(home_ / "none", 10), FileSystemError);
}

// Only regular files are read: a FIFO without a writer, a terminal or a device would block the
// reader or never end. Each fails at once.
TEST_F(PosixFileSystemTest, readsNothingButRegularFiles) {
  const std::string fifo = home_ / "SKILL.md";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const std::string link = home_ / "link.md";
  ASSERT_EQ(::symlink(fifo.c_str(), link.c_str()), 0);
  for (const std::string& path : {fifo, link, std::string("/dev/zero"), std::string("/dev/tty")}) {
    SCOPED_TRACE(path);
    EXPECT_THROW(fileSystem_->readFile(path, 1 << 20), FileSystemError);
  }
  EXPECT_EQ(fileSystem_->readFile(home_.writeFile("regular", "text"), 10), "text");
}

TEST_F(PosixFileSystemTest, currentDirectoryIsAbsolute) {
  char buffer[4096];
  ASSERT_NE(::getcwd(buffer, sizeof buffer), nullptr);
  EXPECT_EQ(fileSystem_->currentDirectory(), buffer);
}

TEST_F(PosixFileSystemTest, atomicWriteReplacesAndCleansUpAfterFailure) {
  const std::string path = home_ / "out.json";
  fileSystem_->writeFileAtomically(path, "first");
  fileSystem_->writeFileAtomically(path, "second");
  EXPECT_EQ(fileSystem_->readFile(path, 100), "second");

  // Renaming a file over a non-empty directory fails after the data was written.
  home_.writeFile("blocked/inside", "");
  EXPECT_THROW(fileSystem_->writeFileAtomically(home_ / "blocked", "data"), FileSystemError);
  EXPECT_THROW(fileSystem_->writeFileAtomically(home_ / "no/such/dir/f", "data"), FileSystemError);
  EXPECT_EQ(fileSystem_->contentsOfDirectory(home_.path()),
            (std::vector<std::string>{"blocked", "out.json"}));
}

TEST_F(PosixFileSystemTest, createsCopiesAndRemovesTrees) {
  fileSystem_->createDirectories(home_ / "a/b/c");
  fileSystem_->createDirectories(home_ / "a/b/c");
  home_.writeFile("a/b/c/file", "data", 0755);
  ASSERT_EQ(::symlink("file", (home_ / "a/b/c/link").c_str()), 0);
  fileSystem_->copyTree(home_ / "a", home_ / "copy");
  EXPECT_EQ(fileSystem_->readFile(home_ / "copy/b/c/link", 10), "data");
  EXPECT_TRUE(fileSystem_->isExecutableFile(home_ / "copy/b/c/file"));
  fileSystem_->removeTree(home_ / "a");
  fileSystem_->removeTree(home_ / "a");
  EXPECT_FALSE(fileSystem_->fileExists(home_ / "a"));
  home_.writeFile("plain", "");
  EXPECT_THROW(fileSystem_->createDirectories(home_ / "plain/sub"), FileSystemError);
}

TEST_F(PosixFileSystemTest, movesFilesAndFoldersButNeverOverAFullFolder) {
  home_.writeFile("new/manifest.json", "new");
  home_.writeFile("old/manifest.json", "old");
  EXPECT_THROW(fileSystem_->moveItem(home_ / "new", home_ / "old"), FileSystemError);
  EXPECT_EQ(fileSystem_->readFile(home_ / "old/manifest.json", 10), "old");
  fileSystem_->moveItem(home_ / "old", home_ / "previous");
  fileSystem_->moveItem(home_ / "new", home_ / "old");
  EXPECT_EQ(fileSystem_->readFile(home_ / "old/manifest.json", 10), "new");
  EXPECT_FALSE(fileSystem_->fileExists(home_ / "new"));
  EXPECT_THROW(fileSystem_->moveItem(home_ / "missing", home_ / "elsewhere"), FileSystemError);
}

TEST_F(PosixFileSystemTest, resolvesLinksEvenBelowMissingComponents) {
  fileSystem_->createDirectories(home_ / "real/dir");
  ASSERT_EQ(::symlink((home_ / "real").c_str(), (home_ / "alias").c_str()), 0);
  EXPECT_EQ(fileSystem_->resolvingSymlinks(home_ / "alias/dir/../dir/"), home_ / "real/dir");
  EXPECT_EQ(fileSystem_->resolvingSymlinks(home_ / "alias/missing/x"), home_ / "real/missing/x");
}

}  // namespace
}  // namespace vellora

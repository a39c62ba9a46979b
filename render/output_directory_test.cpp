// The output directory: refused paths, safe opening of source files, the project list.
#include "render/output_directory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "driver/run.h"
#include "support/error.h"
#include "tests/run_harness.h"

namespace {

namespace fs = std::filesystem;

// A fresh temporary directory made current for the test, with every table of the run
// reset; both undone at the end.
class InTempDirectory : public testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "progs2qc-render-XXXXXX").string();
    ASSERT_NE(nullptr, ::mkdtemp(pattern.data()));
    directory_ = pattern;
    fs::current_path(directory_);
    driver::reset_run();
  }
  void TearDown() override {
    driver::reset_run();
    fs::current_path(previous_);
    fs::remove_all(directory_);
  }

 private:
  fs::path previous_;
  fs::path directory_;
};

// The condition use_output_directory raises for the path, if any.
std::optional<support::FatalCondition> refusal_of(const std::string& path) {
  try {
    render::use_output_directory(path);
  } catch (const support::FatalCondition& condition) {
    return condition;
  }
  return std::nullopt;
}

// Writes the text through a descriptor and closes it.
void write_and_close(int fd, const std::string& text) {
  ASSERT_GE(fd, 0);
  EXPECT_EQ(static_cast<ssize_t>(text.size()), ::write(fd, text.data(), text.size()));
  EXPECT_EQ(0, ::close(fd));
}

using OutputDirectory = InTempDirectory;

TEST_F(OutputDirectory, UsableDirectoriesAreTakenAndMissingOnesCreated) {
  fs::create_directory("old");
  for (const char* path : {"old", "old/", "new", "new//"}) {
    SCOPED_TRACE(path);
    driver::reset_run();
    EXPECT_FALSE(refusal_of(path).has_value());
    EXPECT_TRUE(fs::is_directory(path));
    write_and_close(render::open_source_file("a.qc", render::OpenMode::kCreate), "text\n");
    EXPECT_EQ("text\n", tests::read_file(std::string(path) + "/a.qc"));
    EXPECT_FALSE(fs::exists("a.qc"));
  }
}

TEST_F(OutputDirectory, UnusablePathsAreRefusedWithTheirReasonAndStatus2) {
  tests::write_file("file", "keep\n");
  fs::create_directory("real");
  fs::create_directory_symlink("real", "link");
  struct Case {
    const char* path;
    const char* message;
  };
  const Case cases[] = {
      {"file", "progs2qc: output directory 'file': Not a directory\n"},
      {"link", "progs2qc: output directory 'link': is a symbolic link\n"},
      {"link/", "progs2qc: output directory 'link/': is a symbolic link\n"},
      {"none/sub", "progs2qc: output directory 'none/sub': No such file or directory\n"},
      {"file/sub", "progs2qc: output directory 'file/sub': Not a directory\n"},
      {"", "progs2qc: output directory '': No such file or directory\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    driver::reset_run();
    const std::optional<support::FatalCondition> refusal = refusal_of(c.path);
    ASSERT_TRUE(refusal.has_value());
    EXPECT_EQ(2, refusal->exit_status);
    EXPECT_TRUE(refusal->on_standard_error);
    EXPECT_EQ(c.message, refusal->message);
  }
  EXPECT_EQ("keep\n", tests::read_file("file"));
  EXPECT_TRUE(fs::is_empty("real"));
  EXPECT_FALSE(fs::exists("none"));
}

TEST_F(OutputDirectory, SourceFilesAreOnlyRegularFilesOpenedByPlainNames) {
  tests::write_file("target", "keep\n");
  fs::create_symlink("target", "link.qc");
  fs::create_directory("dir.qc");
  ASSERT_EQ(0, ::mkfifo("fifo.qc", 0666));
  fs::create_directory("sub");
  for (const char* name : {"link.qc", "dir.qc", "fifo.qc", "sub/a.qc", "", "progs.src"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(-1, render::open_source_file(name, render::OpenMode::kCreate));
  }
  EXPECT_EQ("keep\n", tests::read_file("target"));
  EXPECT_FALSE(fs::exists("sub/a.qc"));
  EXPECT_FALSE(fs::exists("progs.src"));
}

TEST_F(OutputDirectory, AppendingOnlyToAFileThisRunCreated) {
  tests::write_file("old.qc", "old\n");
  EXPECT_EQ(-1, render::open_source_file("old.qc", render::OpenMode::kAppend));
  EXPECT_EQ(-1, render::open_source_file("none.qc", render::OpenMode::kAppend));
  write_and_close(render::open_source_file("old.qc", render::OpenMode::kCreate), "one\n");
  write_and_close(render::open_source_file("old.qc", render::OpenMode::kAppend), "two\n");
  EXPECT_EQ("one\ntwo\n", tests::read_file("old.qc"));
  EXPECT_FALSE(fs::exists("none.qc"));
}

TEST_F(OutputDirectory, TheInputFileIsReservedUnderEveryName) {
  fs::create_directory("out");
  tests::write_file("out/game.qc", "input\n");
  ASSERT_EQ(0, ::link("out/game.qc", "out/other.qc"));
  render::use_output_directory("out");
  render::remember_input_file("out/game.qc");
  EXPECT_TRUE(render::is_reserved_name("game.qc"));
  EXPECT_TRUE(render::is_reserved_name("other.qc"));
  EXPECT_TRUE(render::is_reserved_name("progs.src"));
  EXPECT_FALSE(render::is_reserved_name("new.qc"));
  EXPECT_EQ(-1, render::open_source_file("game.qc", render::OpenMode::kCreate));
  EXPECT_EQ(-1, render::open_source_file("other.qc", render::OpenMode::kCreate));
  EXPECT_EQ("input\n", tests::read_file("out/game.qc"));
}

TEST_F(OutputDirectory, ProjectListHasItsHeaderThenOneLinePerName) {
  render::use_output_directory("out");
  render::open_project_list();
  render::add_to_project_list("a.qc");
  render::add_to_project_list("b.qc");
  render::close_project_list();
  EXPECT_EQ("./progs.dat\n\na.qc\nb.qc\n", tests::read_file("out/progs.src"));
  EXPECT_FALSE(fs::exists("progs.src"));
}

TEST_F(OutputDirectory, ProjectListThatIsTheInputCannotBeOpened) {
  tests::write_file("progs.src", "input\n");
  render::remember_input_file("progs.src");
  try {
    render::open_project_list();
    ADD_FAILURE() << "the input was opened as the project list";
  } catch (const support::FatalCondition& condition) {
    EXPECT_EQ(1, condition.exit_status);
    EXPECT_FALSE(condition.on_standard_error);
    EXPECT_EQ("Fatal Error - Could not open \"progs.src\" for output.\n", condition.message);
  }
  EXPECT_EQ("input\n", tests::read_file("progs.src"));
}

}  // namespace

// Formatting without a length limit, the fatal conditions, console capture and input reading.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "support/console.h"
#include "support/error.h"
#include "support/input_file.h"
#include "support/scratch.h"

namespace {

const std::string kBanner = "************ ERROR ***********\n";

// Lengths around the 256-byte first attempt of the formatter and the old 1024-byte buffer.
constexpr size_t TextLengths[] = {0, 1, 254, 255, 256, 257, 1023, 1024, 1025, 100000};

TEST(ScratchPrintf, FormatsTextsOfAnyLengthWhole) {
  for (size_t length : TextLengths) {
    SCOPED_TRACE(length);
    const std::string body(length, 'q');
    const std::string text = support::scratch_printf("<%s|%d>", body.c_str(), -42);
    EXPECT_EQ("<" + body + "|-42>", text);
  }
}

TEST(ScratchPrintf, EachCallGivesItsOwnText) {
  const std::string first = support::scratch_printf("%s", "first");
  const std::string second = support::scratch_printf("%i%c", 2, 'x');
  EXPECT_EQ("first", first);
  EXPECT_EQ("2x", second);
}

// Catches the condition a routine throws; fails the test when it throws none.
template <typename Routine>
support::FatalCondition condition_of(Routine routine) {
  try {
    routine();
  } catch (const support::FatalCondition& condition) {
    return condition;
  }
  ADD_FAILURE() << "no FatalCondition thrown";
  return support::FatalCondition{-1, ""};
}

TEST(ErrorExit, ThrowsTheBannerAndMessageWithStatusOne) {
  const std::string long_path(3000, 'p');
  struct Case {
    const char* name;
    std::string path;
  };
  const Case cases[] = {{"short", "x.dat"}, {"longer than any old buffer", long_path}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const support::FatalCondition condition =
        condition_of([&] { support::error_exit("Error opening %s: %s", c.path.c_str(), "gone"); });
    EXPECT_EQ(1, condition.exit_status);
    EXPECT_EQ(kBanner + "Error opening " + c.path + ": gone\n", condition.message);
  }
}

TEST(FatalError, ThrowsTheMessageExactlyAsFormattedWithStatusOne) {
  const std::string long_name(2000, 'n');
  support::FatalCondition condition =
      condition_of([] { support::fatal_error("Fatal Error - too many functions.\n"); });
  EXPECT_EQ(1, condition.exit_status);
  EXPECT_EQ("Fatal Error - too many functions.\n", condition.message);

  condition = condition_of([&] {
    support::fatal_error("Fatal Error - Could not open \"%s\" for output.", long_name.c_str());
  });
  EXPECT_EQ(1, condition.exit_status);
  EXPECT_EQ("Fatal Error - Could not open \"" + long_name + "\" for output.", condition.message);
}

TEST(UsageError, ThrowsTheProgramNameAndMessageForStandardErrorWithStatusTwo) {
  const support::FatalCondition condition =
      condition_of([] { support::usage_error("unknown option '%s'\n", "-x"); });
  EXPECT_EQ(2, condition.exit_status);
  EXPECT_TRUE(condition.on_standard_error);
  EXPECT_EQ("progs2qc: unknown option '-x'\n", condition.message);
  EXPECT_FALSE(condition_of([] { support::fatal_error("x"); }).on_standard_error);
  EXPECT_FALSE(condition_of([] { support::error_exit("x"); }).on_standard_error);
}

TEST(Console, CaptureCollectsEverythingWrittenAndNothingReachesStdout) {
  std::string captured;
  testing::internal::CaptureStdout();
  support::console.capture = &captured;
  support::console_printf("%s %6i\n", "count", 42);
  support::console_write(std::string("raw\0byte", 8));
  support::console_printf("%s", std::string(5000, 'w').c_str());
  support::console_flush();
  support::console.capture = nullptr;
  const std::string on_stdout = testing::internal::GetCapturedStdout();
  EXPECT_EQ("count     42\n" + std::string("raw\0byte", 8) + std::string(5000, 'w'), captured);
  EXPECT_EQ("", on_stdout);
}

TEST(Console, ErrorCaptureCollectsStandardErrorApartFromStandardOutput) {
  std::string output;
  std::string errors;
  testing::internal::CaptureStderr();
  support::console.capture = &output;
  support::console.error_capture = &errors;
  support::console_write("out\n");
  support::console_error_write("err\n");
  support::console_flush();
  support::console.capture = nullptr;
  support::console.error_capture = nullptr;
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
  EXPECT_EQ("out\n", output);
  EXPECT_EQ("err\n", errors);

  testing::internal::CaptureStderr();
  support::console_error_write("plain\n");
  support::console_flush();
  EXPECT_EQ("plain\n", testing::internal::GetCapturedStderr());
}

TEST(Console, WithoutCaptureWritesToStdout) {
  testing::internal::CaptureStdout();
  support::console_printf("%s=%i\n", "a", 1);
  support::console_write("b\n");
  support::console_flush();
  EXPECT_EQ("a=1\nb\n", testing::internal::GetCapturedStdout());
}

// A temporary file holding the bytes, removed again at the end of the test.
struct TempFile {
  std::string path;
};

TempFile make_temp_file(const std::string& bytes) {
  char path[] = "/tmp/progs2qc-support-XXXXXX";
  int fd = ::mkstemp(path);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(static_cast<ssize_t>(bytes.size()), ::write(fd, bytes.data(), bytes.size()));
  ::close(fd);
  return TempFile{path};
}

TEST(InputFile, OpenFailureNamesThePathAndTheSystemText) {
  support::reset_input_file();
  const support::FatalCondition condition =
      condition_of([] { support::open_for_reading("/nonexistent-dir/progs.dat"); });
  EXPECT_EQ(1, condition.exit_status);
  EXPECT_EQ(kBanner + "Error opening /nonexistent-dir/progs.dat: No such file or directory\n",
            condition.message);
  EXPECT_EQ(-1, support::input_file.fd);
}

TEST(InputFile, ReadsExactlyOrFails) {
  const TempFile file = make_temp_file("0123456789");
  struct Case {
    const char* name;
    int64_t position;
    size_t count;
    const char* want;  // null: the read fails
  };
  constexpr Case cases[] = {
      {"whole file", 0, 10, "0123456789"}, {"middle", 3, 4, "3456"},
      {"up to the end", 7, 3, "789"},      {"nothing at the end", 10, 0, ""},
      {"nothing past the end", 50, 0, ""}, {"one byte too many", 7, 4, nullptr},
      {"at the end", 10, 1, nullptr},      {"past the end", 11, 1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int fd = support::open_for_reading(file.path.c_str());
    EXPECT_EQ(fd, support::input_file.fd);
    EXPECT_EQ(10, support::file_size(fd));
    support::seek_to(fd, c.position);
    std::string buffer(c.count, '\0');
    if (c.want != nullptr) {
      support::read_exact(fd, buffer.data(), c.count);
      EXPECT_EQ(c.want, buffer);
    } else {
      const support::FatalCondition condition =
          condition_of([&] { support::read_exact(fd, buffer.data(), c.count); });
      EXPECT_EQ(1, condition.exit_status);
      EXPECT_EQ(kBanner + "File read failure\n", condition.message);
    }
    support::close_input();
    EXPECT_EQ(-1, support::input_file.fd);
  }
  ::unlink(file.path.c_str());
}

void expect_seek_fails(int64_t position) {
  const TempFile file = make_temp_file("abc");
  const int fd = support::open_for_reading(file.path.c_str());
  const support::FatalCondition condition = condition_of([&] { support::seek_to(fd, position); });
  EXPECT_EQ(kBanner + "File read failure\n", condition.message);
  support::close_input();
  ::unlink(file.path.c_str());
}

TEST(InputFile, RefusedPositionIsAReadFailure) {
  for (int64_t position : {int64_t{-1}, int64_t{-2}, int64_t{-1000}, INT64_MIN}) {
    SCOPED_TRACE(position);
    expect_seek_fails(position);
  }
}

TEST(InputFile, DirectoryOpensButCannotBeRead) {
  const int fd = support::open_for_reading("/tmp");
  char byte;
  const support::FatalCondition condition =
      condition_of([&] { support::read_exact(fd, &byte, 1); });
  EXPECT_EQ(kBanner + "File read failure\n", condition.message);
  support::reset_input_file();
  EXPECT_EQ(-1, support::input_file.fd);
}

}  // namespace

// The check that a captured routine ended the run with a message and exit status 1.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/fixture.h"

namespace tests {

inline void expect_fatal(const Captured& result, const std::string& message) {
  ASSERT_TRUE(result.fatal.has_value());
  EXPECT_EQ(1, result.fatal->exit_status);
  EXPECT_EQ(message, result.fatal->message);
}

}  // namespace tests

// For tests that need the display, Xvfb, OpenH264 or ffmpeg: on a developer's
// machine without one the test is skipped; under the test command, which
// provides them all and says so with LCX_TEST_REQUIRE_ALL=1, it fails.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string_view>

namespace lcx {

inline bool TestCommandProvidesAll() {
  const char* v = getenv("LCX_TEST_REQUIRE_ALL");
  return v && std::string_view(v) == "1";
}

}  // namespace lcx

// Returns from the test (or its SetUp) either way.
#define LCX_SKIP_OR_FAIL(why)                                                            \
  do {                                                                                   \
    if (::lcx::TestCommandProvidesAll()) FAIL() << why << " (the test command provides it)"; \
    GTEST_SKIP() << why;                                                                 \
  } while (0)

// Loading by a list of names, symbol look-up and the loader's reasons, with
// the C maths library every Debian system has.
#include "platform/dynamic_library.h"

#include <gtest/gtest.h>

namespace lcx {
namespace {

TEST(DynamicLibrary, TakesTheFirstNameThatLoadsAndFindsItsSymbols) {
  DynamicLibrary lib = DynamicLibrary::Open({"liblcx-no-such-library.so", "libm.so.6", "libc.so.6"});
  ASSERT_TRUE(lib.is_open()) << lib.error();
  EXPECT_EQ(lib.name(), "libm.so.6");
  auto cosine = reinterpret_cast<double (*)(double)>(lib.Symbol("cos"));
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);

  EXPECT_EQ(lib.Symbol("lcx_no_such_symbol"), nullptr);
  EXPECT_NE(lib.error().find("lcx_no_such_symbol"), std::string::npos) << lib.error();

  // The handle moves; the library is closed once, by its last owner.
  DynamicLibrary moved = std::move(lib);
  EXPECT_FALSE(lib.is_open());
  EXPECT_NE(moved.Symbol("sin"), nullptr);
}

TEST(DynamicLibrary, NamesEveryLibraryThatFailedToLoad) {
  DynamicLibrary lib = DynamicLibrary::Open({"liblcx-missing-one.so", "liblcx-missing-two.so"});
  EXPECT_FALSE(lib.is_open());
  EXPECT_NE(lib.error().find("liblcx-missing-one.so"), std::string::npos) << lib.error();
  EXPECT_NE(lib.error().find("liblcx-missing-two.so"), std::string::npos) << lib.error();
  EXPECT_EQ(lib.Symbol("cos"), nullptr);
}

}  // namespace
}  // namespace lcx

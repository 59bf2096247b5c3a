#include "security/digest.h"

#include <gtest/gtest.h>

#include <set>

namespace lcx {
namespace {

TEST(Digest, PublishedVectors) {
  // RFC 1321 appendix, FIPS 180 examples.
  struct Case {
    const char* input;
    const char* md5;
    const char* sha1;
    const char* sha256;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e", "da39a3ee5e6b4b0d3255bfef95601890afd80709",
       "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72", "a9993e364706816aba3e25717850c26c9cd0d89d",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0", "c12252ceda8be8994d5fa0290a47231c1d16aae3",
       "f7846f55cf23e14eebeab5b4e1550cad5b509e3348fbc4efa3a1413d393cb650"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(Md5Hex(c.input), c.md5);
    EXPECT_EQ(HexLower(Sha1Digest(c.input)), c.sha1);
    EXPECT_EQ(HexLower(Sha256Digest(c.input)), c.sha256);
  }
  EXPECT_EQ(Sha1Digest("x").size(), 20u);
  EXPECT_EQ(Sha256Digest("x").size(), 32u);
}

TEST(HmacSha256, Rfc4231Vectors) {
  EXPECT_EQ(HexLower(HmacSha256(std::string(20, '\x0b'), "Hi There")),
            "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
  EXPECT_EQ(HexLower(HmacSha256("Jefe", "what do ya want for nothing?")),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
}

TEST(Base64, EncodeRfc4648Vectors) {
  const char* vectors[][2] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                              {"foo", "Zm9v"},  {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
                              {"foobar", "Zm9vYmFy"}};
  for (auto& v : vectors) {
    SCOPED_TRACE(v[0]);
    EXPECT_EQ(Base64Encode(v[0]), v[1]);
    EXPECT_EQ(Base64Decode(v[1]), v[0]);
  }
  EXPECT_EQ(Base64Encode(std::string("\xff\xfe\x00", 3)), "//4A");
}

TEST(Base64, DecodeSkipsWhatItCannotUse) {
  struct Case {
    const char* name;
    const char* text;
    std::string bytes;
  } cases[] = {
      {"padded", "YWI=", "ab"},
      {"blank inside", "YW I=", "ab"},
      {"unpadded pair", "YQ", "a"},
      {"single char gives nothing", "Y", ""},
      {"pads in the middle are skipped", "YQ==YQ==", Base64Decode("YQYQ")},
      {"line breaks", "Zm9v\r\nYmFy", "foobar"},
      {"url-safe characters are not ours", "-_", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Base64Decode(c.text), c.bytes);
  }
}

TEST(RandomHex, LengthAndAlphabet) {
  for (int n : {0, -5, 16}) {
    std::string h = RandomHex(n);
    EXPECT_EQ(h.size(), 32u) << n;
    EXPECT_EQ(h.find_first_not_of("0123456789abcdef"), std::string::npos);
  }
  EXPECT_EQ(RandomHex(3).size(), 6u);
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) seen.insert(RandomHex(16));
  EXPECT_EQ(seen.size(), 50u);
}

bool FailingRandomSource(unsigned char*, size_t) { return false; }
bool CountingRandomSource(unsigned char* out, size_t n) {
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<unsigned char>(i);
  return true;
}

TEST(RandomHex, FailingSourceGivesNoToken) {
  SetRandomSourceForTesting(&FailingRandomSource);
  const std::string failed = RandomHex(16);
  SetRandomSourceForTesting(&CountingRandomSource);
  const std::string seamed = RandomHex(3);
  SetRandomSourceForTesting(nullptr);
  EXPECT_EQ(failed, "") << "no clock-derived fallback";
  EXPECT_EQ(seamed, "000102") << "the bytes come from the source";
  EXPECT_EQ(RandomHex(16).size(), 32u) << "the system source is back";
}

TEST(ConstantTimeEquals, Cases) {
  EXPECT_TRUE(ConstantTimeEquals("", ""));
  EXPECT_TRUE(ConstantTimeEquals("abc", "abc"));
  EXPECT_FALSE(ConstantTimeEquals("abc", "abd"));
  EXPECT_FALSE(ConstantTimeEquals("abc", "ab"));
  EXPECT_FALSE(ConstantTimeEquals(std::string("a\0b", 3), std::string("a\0c", 3)));
}

TEST(GetAuthParam, DigestHeaderLines) {
  const std::string line =
      "Authorization: Digest username=\"admin\", nonce=\"abc\", qop=auth, cnonce=\"xyz\", nc=00000001";
  const std::string reordered = "Authorization: Digest cnonce=\"xyz\", username=\"admin\", nonce=\"abc\"";
  struct Case {
    const std::string* line;
    const char* name;
    const char* value;
  } cases[] = {
      {&line, "username", "admin"}, {&line, "nonce", "abc"},     {&line, "qop", "auth"},
      {&line, "cnonce", "xyz"},     {&line, "nc", "00000001"},   {&line, "realm", ""},
      {&line, "Username", ""},      {&reordered, "nonce", "abc"}, {&reordered, "cnonce", "xyz"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(GetAuthParam(*c.line, c.name), c.value);
  }
  EXPECT_EQ(GetAuthParam("Digest nonce=\"abc", "nonce"), "") << "missing closing quote";
  EXPECT_EQ(GetAuthParam("nonce=first,x", "nonce"), "first") << "at the start of the line";
  EXPECT_EQ(GetAuthParam("a=1\r\nnonce=z", "nonce"), "z") << "after a line break";
}

}  // namespace
}  // namespace lcx

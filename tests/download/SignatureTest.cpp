#include <gtest/gtest.h>

#include "download/ListSignature.h"
#include "download/ListTrust.h"
#include "support/TestKeys.h"

namespace {

using namespace download;
using namespace testsupport;

TEST(ListSignature, KnownAnswerAndEveryChangedBit) {
  EXPECT_TRUE(IsSignedByAny(kKnownDocument, kKnownSignature, {kTestPublicKey}));
  EXPECT_TRUE(IsSignedByAny(kKnownDocument, kKnownSignature, {kOtherPublicKey, kTestPublicKey}))
      << "any of several keys (a publisher rotating keys)";
  EXPECT_FALSE(IsSignedByAny(kKnownDocument, kKnownSignature, {kOtherPublicKey}));
  EXPECT_FALSE(IsSignedByAny(kKnownDocument, kKnownSignature, {}));
  std::vector<unsigned char> signature;
  ASSERT_TRUE(DecodeBase64(kKnownSignature, signature));
  const std::string document = kKnownDocument;
  // One flipped bit anywhere in the document or the signature is refused.
  for (std::size_t i = 0; i < document.size(); i += 7) {
    std::string changed = document;
    changed[i] ^= 0x01;
    EXPECT_FALSE(IsSignedByAny(changed, kKnownSignature, {kTestPublicKey})) << "document byte " << i;
  }
  for (std::size_t i = 0; i < signature.size(); i += 5) {
    std::vector<unsigned char> changed = signature;
    changed[i] ^= 0x80;
    EXPECT_FALSE(IsSignedByAny(document, EncodeBase64(changed.data(), changed.size()), {kTestPublicKey}))
        << "signature byte " << i;
  }
  std::vector<unsigned char> key;
  ASSERT_TRUE(DecodeBase64(kTestPublicKey, key));
  key[40] ^= 0x01;  // no longer a point of the curve
  EXPECT_FALSE(VerifyListSignature(document, signature, key));
}

TEST(ListSignature, Base64) {
  const struct {
    const char* text;
    bool ok;
    std::string bytes;
  } rows[] = {
      {"TWFu", true, "Man"},
      {"TWE=", true, "Ma"},
      {"TQ==", true, "M"},
      {"  TWFu\n", true, "Man"},
      {"TWF", false, ""},
      {"TW=u", false, ""},
      {"T===", false, ""},
      {"TQ==TWFu", false, ""},
      {"TW-u", false, ""},
      {"", false, ""},
  };
  for (const auto& row : rows) {
    std::vector<unsigned char> out;
    EXPECT_EQ(DecodeBase64(row.text, out), row.ok) << row.text;
    if (row.ok) {
      EXPECT_EQ(std::string(out.begin(), out.end()), row.bytes) << row.text;
    }
  }
  const std::string text = "any carnal pleas";
  EXPECT_EQ(EncodeBase64(reinterpret_cast<const unsigned char*>(text.data()), text.size()), "YW55IGNhcm5hbCBwbGVhcw==");
}

TEST(ListTrust, UtcTimes) {
  const struct {
    const char* text;
    bool ok;
    std::int64_t seconds;
  } rows[] = {
      {"1970-01-01T00:00:00Z", true, 0},
      {"2000-03-01T00:00:00Z", true, 951868800},
      {"2024-02-29T23:59:59+00:00", true, 1709251199},
      {"2027-01-09T12:16:39.250Z", true, 1799496999},
      {"2023-02-29T00:00:00Z", false, 0},
      {"2027-01-09T24:00:00Z", false, 0},
      {"2027-01-09T12:16:39", false, 0},
      {"2027-01-09T12:16:39+01:00", false, 0},
      {"2027-01-09 12:16:39Z", false, 0},
      {"2027-1-9T12:16:39Z", false, 0},
      {"tomorrow", false, 0},
  };
  for (const auto& row : rows) {
    std::int64_t seconds = -1;
    EXPECT_EQ(ParseUtcTime(row.text, seconds), row.ok) << row.text;
    if (row.ok) {
      EXPECT_EQ(seconds, row.seconds) << row.text;
    }
  }
}

} // namespace

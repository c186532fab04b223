#pragma once
// Which file lists the program trusts: with publisher keys built in, only a list signed by one of
// them and not past its "Expires"; with none, every list, as the design has it.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace download {

struct TrustPolicy {
  // The publisher's public keys (base64 of the uncompressed P-256 point); empty: lists are unsigned.
  std::vector<std::string> keys;
  // The time, in seconds since 1970-01-01 UTC.
  std::function<std::int64_t()> nowUtc;
  // The signing time ("Signed") of the newest list accepted so far, kept per user, so that a server
  // cannot roll the game back to an older signed list. Reading gives false when nothing is kept;
  // either may be empty, and then nothing is remembered.
  std::function<bool(std::string& signedText)> readNewestSigned;
  std::function<void(const std::string& signedText)> writeNewestSigned;
};

// Keeps the newest signing time in a small file in folder (created when missing).
void KeepNewestSignedIn(TrustPolicy& policy, const std::u16string& folder);

// The keys built into this program (the build setting VALDRIS_TRUSTED_KEYS), with the real clock.
// Defined by the trusted-keys library each program links.
TrustPolicy BuiltInTrustPolicy();

// A program's policy over these keys: the real clock and, when there are keys, the newest signing
// time kept beside the user's log.
TrustPolicy ProgramTrustPolicy(std::vector<std::string> keys);

// True when any of the keys signed the document with the signature text (base64 of r||s).
bool IsSignedByAny(std::string_view document, std::string_view signatureText, const std::vector<std::string>& keys);

// "YYYY-MM-DDTHH:MM:SSZ" (or "+00:00" for "Z", and optional fractions of a second) as seconds since
// 1970-01-01 UTC. False for anything else, and for dates that do not exist.
bool ParseUtcTime(std::string_view text, std::int64_t& seconds);

} // namespace download

#pragma once
// The publisher's side of signed file lists: a P-256 key pair in standard formats (the private key
// as PKCS#8 PEM, the public key as base64 of the uncompressed point) and the detached signature of a
// list's exact bytes (base64 of r||s on one line).
#include <string>

namespace filelisttool {

// Writes a new private key to keyPath (readable by its owner only) and its public key to
// keyPath + ".pub". False, with the reason in error, when either cannot be made or written.
bool GenerateKeyPair(const std::string& keyPath, std::string& error);

// The signature line (base64 of r||s, then "\n") of document by the private key in keyPath.
bool SignDocument(const std::string& keyPath, const std::string& document, std::string& signature, std::string& error);

// "YYYY-MM-DDTHH:MM:SSZ" of a moment in seconds since 1970-01-01 UTC.
std::string FormatUtcTime(long long seconds);

} // namespace filelisttool

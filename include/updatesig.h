// Signed updates: the vendor's Ed25519 public keys on the machine, the
// check of a manifest's detached signature against them, and the SHA-256 of
// a package. A machine without the keys folder is not asked for signatures.
#pragma once

#include <cstddef>
#include <string>

// Ed25519 public keys, PEM files named *.pem. Beside the agent's folder, not
// in it, so that no upgrade of the agent removes them.
extern const char* const g_szUpdateKeysDir;

// The most a signature file may hold (an Ed25519 signature is 64 bytes),
// and a manifest (a few lines).
const std::size_t kMaxSignatureBytes = 1024;
const std::size_t kMaxManifestBytes = 64 * 1024;

// Whether this machine requires signed manifests: the keys folder exists,
// whatever it holds (a folder without a usable key then trusts nothing).
bool SignaturesRequired();

enum SIGNATURE_CHECK
{
    SIGNATURE_VERIFIED,
    SIGNATURE_NO_KEY,    // no key this machine trusts
    SIGNATURE_TOO_LONG,  // a signature file longer than kMaxSignatureBytes
    SIGNATURE_NOT_VALID, // no trusted key verifies it, or a file cannot be read
};

// Verifies the signature in pcszSignature over the exact bytes of
// pcszManifest with each trusted key; the file name of the key that verified
// it goes to strKeyFile. A key file that is not root's alone, or not an
// Ed25519 public key, is ignored with an ERROR trace; a keys folder that is
// not root's alone trusts no key.
SIGNATURE_CHECK VerifyManifestSignature(const char* pcszManifest, const char* pcszSignature,
                                        std::string& strKeyFile);

// The SHA-256 of a file's content as 64 lower-case hexadecimal digits;
// false when the file cannot be read.
bool Sha256OfFile(const char* pcszPath, char (&szHex)[65]);

// The client assertion of the certificate sign-in, made with the system's crypto and checked with
// the certificate's public key: header, claims and signature, from a PKCS#8 or a PKCS#1 key, a
// key in its own file or beside the certificate; keys that cannot sign are refused by name.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "base/secret_file.h"
#include "base/thumbprint.h"
#include "mailbox/graph/jwt.h"
#include "tests/graph/rs256_verify.h"

namespace oa::graph::testing {
namespace {

using nlohmann::json;

const std::string kKeys = OA_JWT_KEYS;
const std::string kAudience = "https://login.example/contoso/oauth2/v2.0/token";
const std::string kClient = "6731de76-14a6-49ae-97bc-6eba6914391e";

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Key(const std::string& name) {
  return kKeys + "/" + name;
}

struct Parts {
  json header, claims;
  std::string signingInput, signature;
};

Parts Split(const std::string& jwt) {
  Parts p;
  const size_t a = jwt.find('.'), b = jwt.rfind('.');
  EXPECT_NE(a, b) << jwt;
  p.signingInput = jwt.substr(0, b);
  p.header = json::parse(FromBase64Url(jwt.substr(0, a)).value_or(""), nullptr, false);
  p.claims = json::parse(FromBase64Url(jwt.substr(a + 1, b - a - 1)).value_or(""), nullptr, false);
  p.signature = FromBase64Url(jwt.substr(b + 1)).value_or("");
  return p;
}

void ExpectValidAssertion(const std::string& certFile, const std::string& keyFile) {
  std::string error;
  auto jwt = ClientAssertion(certFile, keyFile, kClient, kAudience, &error);
  ASSERT_TRUE(jwt) << error;
  const Parts p = Split(*jwt);
  EXPECT_EQ(p.header["alg"], "RS256");
  EXPECT_EQ(p.header["typ"], "JWT");
  EXPECT_EQ(p.header["x5t#S256"], Base64Url(Read(Key("cert.sha256"))));
  EXPECT_EQ(p.claims["aud"], kAudience);
  EXPECT_EQ(p.claims["iss"], kClient);
  EXPECT_EQ(p.claims["sub"], kClient);
  const long now = static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(
                                         std::chrono::system_clock::now().time_since_epoch())
                                         .count());
  EXPECT_LE(p.claims["nbf"].get<long>(), now);
  EXPECT_GT(p.claims["exp"].get<long>(), now);
  EXPECT_LE(p.claims["exp"].get<long>() - p.claims["nbf"].get<long>(), 600);
  EXPECT_EQ(FromBase64Url(p.claims.value("jti", "")).value_or("").size(), 16u);
  EXPECT_EQ(p.signature.size(), 256u);
  EXPECT_TRUE(VerifyRs256(Read(certFile), p.signingInput, p.signature));
  // The check itself tells a changed input from the signed one.
  EXPECT_FALSE(VerifyRs256(Read(certFile), p.signingInput + "x", p.signature));
}

TEST(ClientAssertion, SignedWithAPkcs8KeyAndVerifiedByTheCertificate) {
  ExpectValidAssertion(Key("cert.pem"), Key("key-pkcs8.pem"));
}

TEST(ClientAssertion, SignedWithAPkcs1KeyAndVerifiedByTheCertificate) {
  ExpectValidAssertion(Key("cert.pem"), Key("key-pkcs1.pem"));
}

TEST(ClientAssertion, KeyInTheCertificateFile) {
  const std::string both = Key("both.pem");
  {
    std::ofstream out(both, std::ios::binary);
    out << Read(Key("cert.pem")) << Read(Key("key-pkcs1.pem"));
  }
  // It holds the key: its owner's only.
  std::filesystem::permissions(
      both, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  ExpectValidAssertion(both, "");
  std::remove(both.c_str());
}

TEST(ClientAssertion, EveryAssertionHasItsOwnId) {
  std::string error;
  auto a = ClientAssertion(Key("cert.pem"), Key("key-pkcs8.pem"), kClient, kAudience, &error);
  auto b = ClientAssertion(Key("cert.pem"), Key("key-pkcs8.pem"), kClient, kAudience, &error);
  ASSERT_TRUE(a && b) << error;
  EXPECT_NE(Split(*a).claims["jti"], Split(*b).claims["jti"]);
}

TEST(ClientAssertion, UnusableFilesAreRefusedByNameWithoutAPassPhrasePrompt) {
  struct Case {
    std::string cert, key, error;
  };
  const std::string cert = Key("cert.pem");
  // Looked in for the key, so its owner's only, as a key file must be.
  const std::string certOnly = Key("cert-only.pem");
  // Removed first: mingw's copy_file refuses to overwrite even when told to.
  std::filesystem::remove(certOnly);
  std::filesystem::copy_file(cert, certOnly);
  std::filesystem::permissions(
      certOnly, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
#ifdef _WIN32
  const std::string missing = ": cannot be read: no such file.";
#else
  const std::string missing = ": cannot be read: No such file or directory.";
#endif
  const std::vector<Case> cases = {
      {Key("missing.pem"), "", "The certificate file " + Key("missing.pem") + missing},
      {Key("key-pkcs8.pem"), "",
       "The certificate file " + Key("key-pkcs8.pem") + " holds no PEM certificate."},
      {cert, Key("missing-key.pem"), "The private key file " + Key("missing-key.pem") + missing},
      {certOnly, "",
       "The private key file " + certOnly +
           " holds no unencrypted RSA private key in PEM (RS256 needs one)."},
      {cert, Key("ec-key.pem"),
       "The private key file " + Key("ec-key.pem") +
           " holds no unencrypted RSA private key in PEM (RS256 needs "
           "one)."},
      {cert, Key("other-key.pem"),
       "The private key in " + Key("other-key.pem") + " does not belong to the certificate in " +
           cert + "."},
      {cert, Key("encrypted-key.pem"),
       "The private key file " + Key("encrypted-key.pem") +
           " holds no unencrypted RSA private key in PEM (RS256 needs one)."},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(ClientAssertion(c.cert, c.key, kClient, kAudience, &error));
    EXPECT_EQ(error, c.error);
  }
}

// As certificate dialogs show it (split by spaces, a left-to-right mark copied in front), as
// PowerShell prints it, or with colons; anything else is refused.
TEST(CertificateThumbprint, TakesTheWaysWindowsShowsItAndNothingElse) {
  const std::string bytes(
      "\x3A\xB0\x01\xFF\x10\x20\x30\x40\x50\x60\x70\x80\x90\xA0\xB0\xC0"
      "\xD0\xE0\xF0\x0F",
      20);
  for (const std::string text :
       {"3AB001FF102030405060708090A0B0C0D0E0F00F", "3ab001ff102030405060708090a0b0c0d0e0f00f",
        "\xE2\x80\x8E"
        "3a b0 01 ff 10 20 30 40 50 60 70 80 90 a0 b0 c0 d0 e0 f0 0f",
        "3A:B0:01:FF:10:20:30:40:50:60:70:80:90:A0:B0:C0:D0:E0:F0:0F"}) {
    SCOPED_TRACE(text);
    const auto parsed = oa::ParseThumbprint(text);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed, bytes);
  }
  for (const std::string text :
       {"", "3AB001FF102030405060708090A0B0C0D0E0F0", "3AB001FF102030405060708090A0B0C0D0E0F00F00",
        "3AB001FF102030405060708090A0B0C0D0E0F00G", "3AB001FF10203040-5060708090A0B0C0D0E0F00F",
        "/etc/cert.pem"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(oa::ParseThumbprint(text));
  }
}

#ifndef _WIN32
TEST(CertificateThumbprint, NamesNoCertificateWithoutAWindowsStore) {
  std::string error;
  EXPECT_FALSE(LoadStoreCertificateKey("3AB001FF102030405060708090A0B0C0D0E0F00F", &error));
  EXPECT_NE(error.find("only a Windows certificate store knows"), std::string::npos) << error;
}

// The certificate and key files are read as the password file is: a FIFO or a device is refused
// without waiting on it, and so is a file too large; the key must be its owner's only, the
// certificate (public) need not.
class CertificateFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/oa-jwt-files-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    dir = name;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  std::string Copy(const std::string& from, const std::string& name, mode_t mode) {
    const std::string to = dir + "/" + name;
    std::ofstream(to, std::ios::binary) << Read(from);
    ::chmod(to.c_str(), mode);
    return to;
  }
  static std::string Error(const std::string& certFile, const std::string& keyFile) {
    std::string error;
    return ClientAssertion(certFile, keyFile, kClient, kAudience, &error) ? "signed" : error;
  }

  std::string dir;
};

TEST_F(CertificateFiles, FifoDeviceAndHugeFilesAreRefusedWithoutWaiting) {
  const std::string fifo = dir + "/fifo.pem";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string key = Copy(Key("key-pkcs8.pem"), "key.pem", 0600);
  const std::string cert = Copy(Key("cert.pem"), "cert.pem", 0644);
  EXPECT_EQ(Error(fifo, key), "The certificate file " + fifo + ": is no regular file.");
  EXPECT_EQ(Error(cert, fifo), "The private key file " + fifo + ": is no regular file.");
  EXPECT_EQ(Error(cert, "/dev/zero"), "The private key file /dev/zero: is no regular file.");
  const std::string huge = dir + "/huge.pem";
  std::ofstream(huge, std::ios::binary) << Read(cert) << std::string(kMaxSecretFileBytes, '\n');
  ::chmod(huge.c_str(), 0600);
  EXPECT_EQ(Error(huge, key), "The certificate file " + huge +
                                  ": is larger than 64 KiB, the most a password or secret file "
                                  "may hold.");
  EXPECT_EQ(Error(cert, huge), "The private key file " + huge +
                                   ": is larger than 64 KiB, the most a password or secret file "
                                   "may hold.");
  EXPECT_EQ(Error(cert, key), "signed");
}

TEST_F(CertificateFiles, TheKeyIsItsOwnersOnlyTheCertificateNeedNotBe) {
  const std::string cert = Copy(Key("cert.pem"), "cert.pem", 0644);
  const std::string key = Copy(Key("key-pkcs8.pem"), "key.pem", 0640);
  EXPECT_EQ(Error(cert, key), "The private key file " + key +
                                  ": mode 0640, must be readable by its owner only (chmod 600).");
  ::chmod(key.c_str(), 0604);
  EXPECT_NE(Error(cert, key).find(": mode 0604, must be readable by its owner only"),
            std::string::npos);
  ::chmod(key.c_str(), 0400);
  EXPECT_EQ(Error(cert, key), "signed");
  // The key beside the certificate makes that file a key file.
  const std::string both = dir + "/both.pem";
  std::ofstream(both, std::ios::binary) << Read(cert) << Read(key);
  ::chmod(both.c_str(), 0644);
  EXPECT_EQ(Error(both, ""), "The private key file " + both +
                                 ": mode 0644, must be readable by its owner only (chmod 600).");
}

TEST_F(CertificateFiles, AKeyOwnedByAnotherUserIsRefusedAlsoForRoot) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file away";
  const std::string cert = Copy(Key("cert.pem"), "cert.pem", 0644);
  const std::string key = Copy(Key("key-pkcs8.pem"), "key.pem", 0600);
  ASSERT_EQ(::chown(key.c_str(), 65534, 65534), 0);
  EXPECT_EQ(Error(cert, key),
            "The private key file " + key + ": is owned by user 65534, not by you (uid 0).");
  // A certificate is public: another owner is fine.
  ASSERT_EQ(::chown(cert.c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chown(key.c_str(), 0, 0), 0);
  EXPECT_EQ(Error(cert, key), "signed");
}
#endif

TEST(Base64UrlText, RoundTripsEveryLengthAndRefusesOtherCharacters) {
  std::string bytes;
  for (int i = 0; i < 70; ++i) {
    EXPECT_EQ(FromBase64Url(Base64Url(bytes)), bytes);
    bytes += static_cast<char>(i * 37 + 250);
  }
  EXPECT_EQ(Base64Url("\xfb\xff"), "-_8");
  EXPECT_FALSE(FromBase64Url("ab+c"));
  EXPECT_FALSE(FromBase64Url("abcde"));
}

}  // namespace
}  // namespace oa::graph::testing

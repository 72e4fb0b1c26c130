// The loopback servers' certificates: one whose self-signature Wine would refuse is made again.
#include "tests/support/loopback_certificate.h"

#include <gtest/gtest.h>

#include "tests/nowindow/temp_files.h"

namespace oa::testing {
namespace {

// Two certificates the openssl program made for localhost: the first signature's r has 31
// bytes (a leading zero in its 32-byte encoding), and Wine's WinHTTP failed the handshake
// against it with the certificate trusted; the second, full-length, it took.
constexpr const char* kShortR =
    "-----BEGIN CERTIFICATE-----\n"
    "MIIBmDCCAT+gAwIBAgIULSVHDjxycE7VMM8jT4ANrG2DRNUwCgYIKoZIzj0EAwIw\n"
    "FDESMBAGA1UEAwwJbG9jYWxob3N0MB4XDTI2MTIxMTAzNTM1OVoXDTI2MTIxMzAz\n"
    "NTM1OVowFDESMBAGA1UEAwwJbG9jYWxob3N0MFkwEwYHKoZIzj0CAQYIKoZIzj0D\n"
    "AQcDQgAESHnv4JX6+N3n2yxWEvVe3etKE69ihParc16lageRpJ7mMRqHVaLBlirn\n"
    "/Z8M82z8za0MEtBZ6sZdDi/0gBTVZqNvMG0wHQYDVR0OBBYEFAt2rIBkByp/Brwf\n"
    "Q/Orx3VEoN8TMB8GA1UdIwQYMBaAFAt2rIBkByp/BrwfQ/Orx3VEoN8TMA8GA1Ud\n"
    "EwEB/wQFMAMBAf8wGgYDVR0RBBMwEYIJbG9jYWxob3N0hwR/AAABMAoGCCqGSM49\n"
    "BAMCA0cAMEQCIADGzTPc6AlcF1+GEq07+gG17I0uAEC1tBzbIy72Zst7AiB4KwrB\n"
    "ECgazBZhq5pDbcPJtJD/U1w5N9ATU2Ei+ChxcA==\n"
    "-----END CERTIFICATE-----\n";
constexpr const char* kFullLength =
    "-----BEGIN CERTIFICATE-----\n"
    "MIIBmDCCAT+gAwIBAgIUG8Ig/TzzEC/f6y0p9vMLIPjV1AQwCgYIKoZIzj0EAwIw\n"
    "FDESMBAGA1UEAwwJbG9jYWxob3N0MB4XDTI2MTIxMTAzNTM1NloXDTI2MTIxMzAz\n"
    "NTM1NlowFDESMBAGA1UEAwwJbG9jYWxob3N0MFkwEwYHKoZIzj0CAQYIKoZIzj0D\n"
    "AQcDQgAERvbwptMQ1uyhH8h2HhzNZYZYquAr0a3xrocQIWhItMsbkR4gLI5dV4Ys\n"
    "ZX0I6cFsq7Y8mzaKcerwuUUcJxau56NvMG0wHQYDVR0OBBYEFKCu+STKHee2mw03\n"
    "UWFBMLTGHaJqMB8GA1UdIwQYMBaAFKCu+STKHee2mw03UWFBMLTGHaJqMA8GA1Ud\n"
    "EwEB/wQFMAMBAf8wGgYDVR0RBBMwEYIJbG9jYWxob3N0hwR/AAABMAoGCCqGSM49\n"
    "BAMCA0cAMEQCIA8q4YR0wnm5hsr4aZAQNcCAzGOqykg4M8FAaBQ/5Cj+AiBpyiEx\n"
    "W7u/k/Wxq+Tbhq79yWM7Z4Ah32GTg4bmRO3p+Q==\n"
    "-----END CERTIFICATE-----\n";

TEST(LoopbackCertificate, ASignatureWithAShortRIsRefusedAndOneOfFullLengthTaken) {
  TempDir dir;
  WriteFile(dir / "short.pem", kShortR);
  WriteFile(dir / "full.pem", kFullLength);
  WriteFile(dir / "garbage.pem", "not a certificate\n");
  EXPECT_FALSE(HasFullLengthSignature(dir / "short.pem"));
  EXPECT_TRUE(HasFullLengthSignature(dir / "full.pem"));
  EXPECT_FALSE(HasFullLengthSignature(dir / "garbage.pem"));
  EXPECT_FALSE(HasFullLengthSignature(dir / "missing.pem"));
}

// A command that leaves the refused certificate in place every time is given up on after a few
// tries, not run for ever; one that makes a good certificate is run once.
TEST(LoopbackCertificate, MadeAgainWhileRefusedAndGivenUpOnAfterAFewTries) {
  TempDir dir;
  WriteFile(dir / "short.pem", kShortR);
  WriteFile(dir / "full.pem", kFullLength);
  const auto copying = [&](const std::string& from, const std::string& count) {
    return "cp '" + (dir / from) + "' '" + (dir / "cert.pem") + "' && echo x >> '" + (dir / count) +
           "'";
  };
  EXPECT_FALSE(MakeLoopbackCertificate(copying("short.pem", "refused"), dir / "cert.pem"));
  std::string twentyTimes;
  for (int i = 0; i < 20; ++i) twentyTimes += "x\n";
  EXPECT_EQ(ReadFile(dir / "refused"), twentyTimes);

  EXPECT_TRUE(MakeLoopbackCertificate(copying("full.pem", "taken"), dir / "cert.pem"));
  EXPECT_EQ(ReadFile(dir / "taken"), "x\n");
  EXPECT_FALSE(MakeLoopbackCertificate("false", dir / "cert.pem"));
}

}  // namespace
}  // namespace oa::testing

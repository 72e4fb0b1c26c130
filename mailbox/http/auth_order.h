// The order in which a 401's authentication schemes are tried, the same with libcurl and with
// WinHTTP: Negotiate first; then the configured credentials get one turn, NTLM where the server
// takes it (it keeps the password off the wire), else Basic.
#pragma once

namespace oa::http {

// Bits, for the schemes a server offers and those one request has tried.
enum AuthSchemeBits : unsigned {
  kAuthNone = 0,
  kAuthNegotiate = 1,
  kAuthNtlm = 2,
  kAuthBasic = 4,
};

// The scheme to try next after a 401 that offered `offered`, none of `tried` again; kAuthNone
// when there is none left to try.
unsigned NextAuthScheme(unsigned offered, unsigned tried, bool haveCredentials);

}  // namespace oa::http

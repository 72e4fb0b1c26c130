#include "mailbox/http/auth_order.h"

namespace oa::http {

unsigned NextAuthScheme(unsigned offered, unsigned tried, bool haveCredentials) {
  auto untried = [tried](unsigned s) { return (tried & s) == 0; };
  if ((offered & kAuthNegotiate) && untried(kAuthNegotiate)) return kAuthNegotiate;
  // A password refused once is refused again: NTLM or Basic, not both.
  if (!haveCredentials || !untried(kAuthNtlm) || !untried(kAuthBasic)) return kAuthNone;
  if (offered & kAuthNtlm) return kAuthNtlm;
  if (offered & kAuthBasic) return kAuthBasic;
  return kAuthNone;
}

}  // namespace oa::http

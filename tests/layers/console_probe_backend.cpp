// A console file that includes a backend's header: it must not compile, since the console links
// no backend and so sees none of their headers.
#include "mailbox/ews/client.h"

// The control of console_probe_backend.cpp: a console file that includes the layers below it
// compiles.
#include "console/form.h"
#include "mailbox/backends.h"

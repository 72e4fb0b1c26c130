// Test programs write "\n" line ends on Windows too: ctest reads their test lists line by line
// and would keep a "\r" on every test name.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace {

const int kBinaryStdout = _setmode(_fileno(stdout), _O_BINARY);

}  // namespace

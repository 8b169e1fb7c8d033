// The program's entry point.
#include <cstdio>
#include <cstdlib>

#include "app/startup.h"

int main(int argc, char** argv) {
  const int code = HalvaneMain(argc, argv);
  // Threads the program started (the conversion worker) are never joined: the process
  // ends here without running static destructors under them. Everything the program
  // writes is already on disk; only the standard streams may hold output.
  std::fflush(nullptr);
  std::_Exit(code);
}

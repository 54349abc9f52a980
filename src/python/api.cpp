// The running interpreter's version, read once, and what it allows.
#include "python/api.hpp"

#include <cstdio>

namespace quorvel::python {

Runtime g_runtime;

void detect_runtime() {
  // "3.12.1 (main, ...)": the running interpreter, not the build headers.
  int major = 0, minor = 0;
  if (std::sscanf(Py_GetVersion(), "%d.%d", &major, &minor) != 2) return;
  const int version = major * 100 + minor;
  g_runtime.modern = version >= 310;
  g_runtime.deferred_gc = version >= 312;
}

unsigned long immutable_type_flag() { return g_runtime.modern ? (1UL << 8) : 0; }

}  // namespace quorvel::python

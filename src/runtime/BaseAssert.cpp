#include "runtime/BaseAssert.h"

#include <cstdio>
#include <cstdlib>

void baseAssertFailed(const char* condition, const char* file, int line, const char* function)
{
  fprintf(stderr, "Assertion failed: %s, file %s, line %d, function %s\n", condition, file, line, function);
  fflush(stderr);
  abort();
}

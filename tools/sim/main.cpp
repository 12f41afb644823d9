// corvane-sim: a stand-in X-Plane host for development, demos and end-to-end tests.
// Usage and commands: corvane-sim --help.
#include "SimMain.h"

int main(int argc, char** argv)
{
  return corvaneSimMain(argc, argv);
}

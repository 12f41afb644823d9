// The whole of corvane-sim behind its main(): options, then the host's run. On Windows it is
// exported by the host's XPLM_64.dll, which holds the host, and corvane-sim.exe only calls it;
// on Linux the one executable holds both. Called once, on the main thread.
#pragma once

extern "C" int corvaneSimMain(int argc, char** argv);

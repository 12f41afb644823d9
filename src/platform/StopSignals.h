// A request to stop from outside the process (Ctrl-C, a terminal closing, `kill`), handed to
// one function. On Linux that is SIGINT and SIGTERM, caught without SA_RESTART so that a
// blocking call they interrupt returns; on Windows the console's control events, whose
// handler runs on a thread of its own. The function may only do what a signal handler may.
#pragma once

namespace platform {

// Replaces any handler installed before; false when the system refused.
bool onStopSignals(void (*handler)());

}  // namespace platform

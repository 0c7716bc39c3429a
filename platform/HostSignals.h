#pragma once
// The signals through which the user drives the headless host: SIGINT and SIGTERM ask
// the program to quit, SIGUSR1 asks it to open the web console.

namespace sv {

enum class HostSignal { kNone, kQuit, kConfigure };

// Blocks the host's signals in the calling thread, so that every thread started later
// inherits the block and only WaitHostSignal receives them; ignores SIGPIPE so that a
// peer that closes a socket gives an error instead of ending the program. Call first
// thing in main, before any thread starts.
void BlockHostSignals();

// Waits up to timeoutMs milliseconds for one of the host's signals and returns which
// one arrived; kNone when none arrived in time. Any one thread at a time.
HostSignal WaitHostSignal(int timeoutMs);

}  // namespace sv

#pragma once
// Whether a termination signal (SIGINT, SIGTERM) has arrived in this run. The signal
// handler counts them; every window and the message-box sink can ask, so nothing waits
// for the user, or for a long countdown, once the program has been told to end.

namespace pemra {

// True once a termination signal has arrived in this run: nothing may wait for the user
// any more (messages go to standard error instead of a box).
bool TerminationRequested();

// Counts one termination signal and returns how many had arrived before it.
// Async-signal-safe: called from the signal handler.
int NoteTerminationSignal();

// Forgets the signals seen (a new handler is installed, or removed again).
void ResetTermination();

}  // namespace pemra

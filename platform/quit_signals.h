// The signals that ask a program to end (SIGTERM, SIGINT, SIGHUP: kill, Ctrl+C, the end of the session
// or terminal) become bytes on a pipe, so that the program's event loop can run its ordinary exit
// sequence instead of dying in the middle of its work. The handler only writes the signal number to
// the pipe (the self-pipe pattern); everything else happens when the loop reads it.
#pragma once

#include <string>

namespace plat {

// Installs the handlers and returns the read end of the pipe (non-blocking, close-on-exec), which
// becomes readable when one of the signals arrived. Installing again returns the same descriptor.
// -1 when the pipe or a handler cannot be set up (error, may be null, gets the reason; nothing stays
// installed).
int installQuitSignals(std::string* error = nullptr);

// The oldest signal number that arrived and was not taken yet; 0 when none is pending.
int takeQuitSignal();

// Whether a quit signal arrived since the handlers were installed, taken or not. Long work that runs
// before the event loop can read the pipe (the start-up) asks it to cut itself short.
bool quitSignalArrived();

// Whether the program has been asked to end (a quit signal or the end of the session was acted on):
// from then on nothing may wait for the user. One flag for the process, whichever module asks; set by
// the program, cleared only by tests.
void setQuitRequested(bool requested);
bool quitRequested();

// Puts the handlers found at installation back and forgets pending signals. The pipe itself stays open
// (and is reused by the next installation), so the descriptor must no longer be watched.
void uninstallQuitSignals();

} // namespace plat

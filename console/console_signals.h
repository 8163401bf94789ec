// The console program and the signals of a terminal: a closed standard
// output must not kill it, and Ctrl-C, SIGTERM and SIGHUP must end a run
// through the cable's close rather than leave its pins driven.
#pragma once

// SIGPIPE ignored for the rest of the program: a reader that went away
// makes a write fail, which the line writer ignores.
void IgnoreBrokenPipe();

// From here on the first SIGINT, SIGTERM or SIGHUP only marks a stop
// request, which the poll loop passes to the player; a second one ends the
// program at once, as the signal would have without a handler. Clears an
// earlier request.
void CatchStopSignals();
// The dispositions from before CatchStopSignals again; the request stays
// readable.
void ReleaseStopSignals();

// A stop signal came since CatchStopSignals.
bool StopRequested();

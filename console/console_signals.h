// The console program and the signals of a terminal: a closed standard
// output must not kill it, and Ctrl-C, SIGTERM and SIGHUP must end a run
// through the cable's close rather than leave its pins driven.
#pragma once

#include "stoptoken.h"

// SIGPIPE ignored for the rest of the program: a reader that went away
// makes a write fail, which the line writer ignores.
void IgnoreBrokenPipe();

// From here on the first SIGINT, SIGTERM or SIGHUP only asks the
// program's stop token, which the run looks at; a second one ends the
// program at once, as the signal would have without a handler. Clears an
// earlier request.
void CatchStopSignals();
// The dispositions from before CatchStopSignals again; the request stays
// readable.
void ReleaseStopSignals();

// The program's stop, which the first stop signal asks.
platform::TStopToken& StopToken();
// A stop signal came since CatchStopSignals.
bool StopRequested();

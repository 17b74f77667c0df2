#pragma once

// Ends the event loop, as "Quit" would but without saving, when the session
// asks the program to stop (SIGTERM at log-out, SIGINT from a terminal), so
// that it leaves through its ordinary exit path. Does nothing on Windows.
void quitOnTerminationSignals();

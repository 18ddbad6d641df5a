// Removing a writer's temporary files when SIGINT, SIGTERM or SIGHUP ends the
// process while they are being written: without it an interrupted write
// leaves a file of the new contents under a hidden name, as large as what
// was being written. The handler is installed only for a signal whose action
// is the default one, so that a program's own handling and an ignored signal
// (nohup) stay as they are. Nothing outside src/files/ includes this.
#pragma once

#include <string>

/// Watches for the signals until the matching temporaries_unwatch().
void temporaries_watch();
void temporaries_unwatch();

/// Between these, a writer puts its files in place: a signal that comes
/// meanwhile, in whichever thread, ends the process only once every writer
/// is done (temporaries_placed raises it), so that no file is left half
/// placed. Async-signal-safe: the handler sees a lock-free count.
void temporaries_placing();
void temporaries_placed();

/// Notes a temporary file to remove should a signal come: a token for
/// temporaries_forget, or -1 when it cannot be noted (a name too long).
int temporaries_note(const std::string& name);
void temporaries_forget(int token);

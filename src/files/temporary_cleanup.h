// Removing a writer's temporary files when a signal ends the process while
// they are being written (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXFSZ at a file
// size limit, and every other that ends it by default and is not a fault): without it an
// interrupted write leaves a file of the new contents under a hidden name, as large as what was
// being written. The handler is installed only for a signal whose action is the default one, so
// that a program's own handling and an ignored signal (nohup) stay as they are. Nothing outside
// src/files/ includes this.
#pragma once

#include <signal.h>

#include <string>

/// Watches for the signals until the matching temporaries_unwatch().
void temporaries_watch();
void temporaries_unwatch();

/// While one lives, a writer creates a temporary and notes it, or puts its
/// files in place: the signals are blocked in its thread, and in any other
/// the handler only records one, which ends the process once every writer
/// is done (the last of these to go raises it). So no temporary exists
/// before it is noted, and no file is left half placed. The handler sees a
/// lock-free count.
class temporaries_held {
public:
    temporaries_held();
    ~temporaries_held();
    temporaries_held(const temporaries_held&) = delete;
    temporaries_held& operator=(const temporaries_held&) = delete;

private:
    sigset_t before_{};
};

/// Notes a temporary file to remove should a signal come: a token for
/// temporaries_forget, or -1 when it cannot be noted (a name too long, or
/// more temporaries at once than the table holds).
int temporaries_note(const std::string& name);
void temporaries_forget(int token);

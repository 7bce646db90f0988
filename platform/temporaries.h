// Files being written under temporary names, known to the run's signal
// handling: a run ended by SIGTERM or SIGINT (on Windows Ctrl+C, Ctrl+Break
// or the console closing) removes them before it goes, so that no hidden
// half-written file is left beside a target.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace lnk::platform {

// A tracked file's place in the registry; 0 for none.
using TemporaryTicket = size_t;

// Starts tracking path; the handlers are put in place on the first call.
TemporaryTicket track_temporary(const std::string& path);
// Stops tracking (the file was moved to its target or removed).
void untrack_temporary(TemporaryTicket ticket);

// Removes every tracked file. Called from a signal handler: no locks, no
// allocation.
void remove_tracked_temporaries();

// Per system: puts the handlers in place (once), and removes one file
// from within a handler.
void install_temporary_cleanup();
void remove_temporary_now(const std::filesystem::path::value_type* native_path);

}  // namespace lnk::platform

// Ending a run that is interrupted (Ctrl+C, kill, a closed terminal, a reader
// of --json that went away) without leaving its directory behind: the offer
// and the whole payload would otherwise stay in the temporary directory.
#pragma once

#include <atomic>
#include <string>

namespace zelk::app {

// From here on SIGINT, SIGTERM, SIGHUP and SIGPIPE (Windows: the console's
// control events) remove every registered run directory and end the program
// with 128 + the signal's number (130 for Ctrl+C, 143 for SIGTERM). With
// `json`, the lines {"event":"interrupted","signal":"SIGTERM"} and
// {"event":"exit","status":143} are written to standard output first.
void InstallInterruptCleanup(bool json);

// For a program that stops on its own (zelkupdate --watch finishes the
// updates that run and prints its summary): from here on the first SIGINT or
// SIGTERM (Windows: Ctrl+C or Ctrl+Break) only sets the returned flag; a
// second one ends the program as above. The flag is lock-free, so a signal
// handler may set it; whoever waits must look at it often.
const std::atomic<bool>& EnableGracefulStop();

// A run directory (ending in a separator) the interrupt removes; at most a
// few are held at once, further ones are only removed the ordinary way.
void RegisterRunDirectory(const std::u16string& path);
void UnregisterRunDirectory(const std::u16string& path);

}  // namespace zelk::app

// The program's start: connect behind the splash window, then open the
// cleanup window, or the connection-parameter window when the connection
// could not be made.
#pragma once

namespace tarnwick {

class RegistryHive;
class TApplication;

// Runs the start-up sequence on `app` up to the creation of the first window
// (the event loop is not run). Every failure on the way is dropped: the
// connection-parameter window explains a failed connection itself.
void StartUp(TApplication& app);

// The whole program on the given hive: start-up, then the event loop until
// the main window is closed; destroys everything before returning.
int RunProgram(RegistryHive& hklm, const char* programPath);

}  // namespace tarnwick

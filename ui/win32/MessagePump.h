// The event loop of the one user-interface thread: keyboard handling of the dialog
// kind (Tab between controls, Enter and Space press the focused button), the call
// that processes what is pending and returns, and the program's "ending" state.
#pragma once

#include <windows.h>

namespace kordel::win32 {

// The top-level windows whose controls take dialog-style keyboard handling.
void AddDialogWindow(HWND window);
void RemoveDialogWindow(HWND window);

// Translates and dispatches one message, with the dialog-style keyboard handling.
void DispatchWithDialogKeys(MSG& message);

// Processes every message pending at this moment and returns. A quit request found
// there marks the program as ending and stays queued for the main loop.
void ProcessPendingMessages();

// Runs until the quit request; returns its exit code.
int RunMessageLoop();

// The program has been asked to end: modal dialogs return at once from now on.
void MarkEnding();
bool Ending();

}  // namespace kordel::win32

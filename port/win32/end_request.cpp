#include "port/end_request.h"

#include <windows.h>

#include <cstdlib>

namespace port {

namespace {

volatile LONG noted = 0;

BOOL WINAPI on_console_event(DWORD event) {
  InterlockedCompareExchange(&noted, static_cast<LONG>(event) + 1, 0);
  return TRUE;
}

}  // namespace

void catch_end_requests() { SetConsoleCtrlHandler(&on_console_event, TRUE); }

int end_request() { return static_cast<int>(noted); }

void end_as_requested(int) {
  // The status of a console program ended by Ctrl-C.
  ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}

}  // namespace port

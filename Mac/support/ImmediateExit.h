// The agent's immediate ends (a dead state, the resume timer, a fatal signal's path): the log
// outputs are flushed and the process ends with _exit, so no destructor runs under live
// callbacks. Tests put a recorder in place of the end and watch the machines go on.
#pragma once

using ImmediateExitHook = void (*)(int status);

void ImmediateExit(int status);
// Installs a hook in place of the end (null: the real end again); returns the previous one.
ImmediateExitHook SetImmediateExitHook(ImmediateExitHook hook);

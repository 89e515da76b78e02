#pragma once
// The cycle lock: a file in the installation directory that lets one notice
// to the search service go out at a time.

// Takes the cycle lock: 0; -1 when it is held or the installation cannot be
// found; -2 when the lock file cannot be created.
int lock_cycle();
// Releases it: 0 when the file is gone; -1 when it cannot be deleted or the
// installation cannot be found.
int unlock_cycle();

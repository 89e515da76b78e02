#pragma once
// The end-of-cycle notice to the search service, and the cycle lock around it.

// Sends "ZIVIDUZ" and the gatherer's name to the search service under the
// cycle lock and reports the outcome as a message. The name fits the request
// (at most kMaxGathererName bytes).
void notify_service(const char* gatherer_name);
constexpr int kMaxGathererName = 503;

// Takes the cycle lock: 0; -1 when it is held or the installation cannot be
// found; -2 when the lock file cannot be created.
int lock_cycle();
// Releases it: 0 when the file is gone; -1 when it cannot be deleted or the
// installation cannot be found.
int unlock_cycle();

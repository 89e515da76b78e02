#pragma once
// The end-of-cycle notice to the search service, sent under the cycle lock.

// Sends "ZIVIDUZ" and the gatherer's name to the search service under the
// cycle lock and reports the outcome as a message. The name fits the request
// (at most kMaxGathererName bytes).
void notify_service(const char* gatherer_name);
constexpr int kMaxGathererName = 503;


#pragma once
// The end-of-cycle notice to the search service, sent under the cycle lock.

// What came of the notice.
enum class Notice {
  kTold,         // the service took it, with a result of zero
  kToldNonzero,  // the service took it, with another result
  kNotTold,      // it did not reach the service, or the service refused it
};

// Sends "ZIVIDUZ" and the gatherer's name to the search service under the
// cycle lock and reports the outcome as a message, which it returns as well.
// The name fits the request (at most kMaxGathererName bytes).
Notice notify_service(const char* gatherer_name);
constexpr int kMaxGathererName = 503;


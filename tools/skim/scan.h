#pragma once
// The tight loop of the skipping: passing over the lines a skipping abstract
// drops, many bytes at a time, with the widest vectors the processor has.
namespace skim {

// The loops there are, narrowest first. Each gives the same answers.
enum class ScanWidth { k16, k32 };

// The widest loop this processor runs (asked once).
ScanWidth widest_scan_width();

// From the piece start `at`, passes over whole pieces that are not kept
// lines. Stops at a piece that begins with a full stop or a newline and may
// be kept, at a line too long for one piece, or where the whole lines it
// looked at end; what it stops at is a piece start. It never reads at or
// beyond `end`. `width` must be one the processor runs.
const char* pass_unkept_candidates(ScanWidth width, const char* at, const char* end);

}  // namespace skim

#pragma once
// What the processor can run, as far as the programs' own loops ask.
namespace port {

// Whether the processor and the system run instructions on 32-byte vectors.
// Cheap: the answer was found out when the program started.
bool wide_vectors_run();

}  // namespace port

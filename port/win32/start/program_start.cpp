// Linked into every program of the system: what each must set up before its
// main runs. Nothing on Windows, where a write to a closed pipe fails anyway.

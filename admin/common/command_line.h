#pragma once
// Composing the command lines the administration programs hand to children
// and to the command interpreter, into fixed buffers, refusing rather than
// cutting.
#include <cstdarg>
#include <cstddef>

// Results of quote_path.
constexpr int kPathHoldsQuote = -2;  // no quoting carries a double quote through
constexpr int kLineTooLong = -3;     // the result does not fit the buffer
constexpr int kPathHalfCharacter = -4;  // it ends in half a double-byte character

// The words for a refusal of quote_path, to follow the name of what was
// refused ("holds a double quote", "ends in half a double-byte character");
// null for a result that is not one.
const char* path_refusal(int result);

// Writes path into out (size bytes) as one word of a command line: unchanged
// when it holds nothing that the interpreter or the argument splitter would
// take apart, in double quotes when it holds a blank, a tab or one of
// & | < > ^ ( ), and an empty path as "". Returns 0, kPathHoldsQuote,
// kPathHalfCharacter or kLineTooLong (out is then empty). The second byte of
// a double-byte character is never taken for a special character.
int quote_path(const char* path, char* out, std::size_t size);

// The same, but always in double quotes (an argument that the command line
// gives quoted, such as the gatherer ID of the statistics script).
int quote_argument(const char* text, char* out, std::size_t size);

// Whether the command interpreter may replace part of the text: it expands
// %NAME% (inside double quotes as well) when NAME is defined, and its own
// variables are always defined. Any two percent signs may be such a pair; a
// lone one is changed by no interpreter.
bool interpreter_may_expand(const char* text);

// Formats into out; false (out empty) when the text would not fit in size
// bytes with its terminating zero.
__attribute__((format(printf, 3, 4))) bool compose_line(char* out, std::size_t size, const char* format, ...);
__attribute__((format(printf, 3, 0))) bool vcompose_line(char* out, std::size_t size, const char* format, std::va_list args);

// The interpreter strips the first and the last double quote of a line that
// begins with one (unless the line is one quoted program name); a line whose
// first word is a quoted path therefore goes to it inside one more pair of
// quotes. Writes "cmd.exe /C " and the body, wrapped so when needed. False
// (out empty) when it would not fit.
bool compose_shell_line(char* out, std::size_t size, const char* body);

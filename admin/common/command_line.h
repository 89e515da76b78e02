#pragma once
// Composing the command lines the administration programs hand to children
// and to the command interpreter, into fixed buffers, refusing rather than
// cutting.
#include <cstdarg>
#include <cstddef>

// Results of check_line_value and of the quoting routines.
constexpr int kPathHoldsQuote = -2;  // no quoting carries a double quote through
constexpr int kLineTooLong = -3;     // the result does not fit the buffer
constexpr int kPathHalfCharacter = -4;  // it ends in half a double-byte character
constexpr int kPathExpands = -5;        // it holds a %NAME% pair, which the interpreter expands
constexpr int kPathDroppedEnd = -6;     // a part of it ends in a dot or a blank, which Windows drops

// The words for a refusal of check_line_value or the quoting routines, to
// follow the name of what was refused ("holds a double quote", ...); null
// for a result that is not one.
const char* path_refusal(int result);

// The one check of every value (a setting, an argument, a tool path) that
// goes into a line the command interpreter reads. Refused, before anything
// runs: a double quote (no quoting carries it through), two percent signs
// (any two may be a %NAME% pair, which the interpreter expands inside quotes
// too), half a double-byte character at the end (it would swallow the
// separator, quote or blank after it), and for a path, where the file system
// drops them (Windows), a part that ends in a dot or a blank: no quoting can
// name such a directory, the line would act on the one without the dot.
// Returns 0 or one of the refusals above.
int check_line_value(const char* value, bool is_path = true);

// Writes path into out (size bytes) as one word of a command line: unchanged when it holds nothing that the interpreter or
// the argument splitter would take apart, in double quotes when it holds a
// byte that the interpreter reads as a separator or an operator
// (port/interpreter.h) or reads as a switch of its own commands, and an
// empty path as "". Returns 0, kPathHoldsQuote, kPathHalfCharacter or
// kLineTooLong (out is then empty). A value for an interpreter line is first
// checked with check_line_value. The second byte of a double-byte character is never
// taken for a special character.
int quote_path(const char* path, char* out, std::size_t size);

// The same for an argument that is not a path, and always in double quotes
// (an argument that the command line gives quoted, such as the gatherer ID of
// the statistics script).
int quote_argument(const char* text, char* out, std::size_t size);

// Whether the command interpreter may replace part of the text: it expands
// %NAME% (inside double quotes as well) when NAME is defined, and its own
// variables are always defined. Any two percent signs may be such a pair; a
// lone one is changed by no interpreter. Part of check_line_value; also asked
// of a whole composed line, where a lone percent sign of one value may pair
// with one of another.
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

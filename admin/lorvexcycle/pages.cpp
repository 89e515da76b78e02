#include "admin/lorvexcycle/pages.h"

#include <cctype>

#include "port/text.h"

namespace {

constexpr char kHeader[] = "Content-Type: text/html";
constexpr char kCommentOpen[] = "<!-- ";
constexpr char kCell[] = "<TD ALIGN=\"left\">";
constexpr char kCellEnd[] = "</TD>";
// A page's lines are short; the rest of a longer line is not looked at, so
// that a child's endless output costs no memory.
constexpr std::size_t kLineLimit = 4096;
// The most of a message text that is kept: a longer one is cut after a whole
// character and marked so.
constexpr std::size_t kTextLimit = 1024;
constexpr char kCutMark[] = " ...";

bool starts_with(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

}  // namespace

bool is_message_number(const std::string& word) {
  // Numbers are short ("LXCM601-I"); a longer word is no number, and never
  // makes the kept line longer than its readers take.
  constexpr std::size_t kLongestNumber = 32;
  if (word.size() > kLongestNumber) return false;
  const std::size_t hyphen = word.rfind('-');
  if (hyphen == std::string::npos || hyphen == 0 || hyphen + 2 != word.size()) return false;
  for (std::size_t i = 0; i < hyphen; ++i) {
    if (!std::isupper(static_cast<unsigned char>(word[i])) && !std::isdigit(static_cast<unsigned char>(word[i]))) {
      return false;
    }
  }
  return std::isupper(static_cast<unsigned char>(word.back())) != 0;
}

void PageReader::take(const char* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (bytes[i] == '\n') {
      line(std::move(pending_));
      pending_.clear();
    } else if (pending_.size() < kLineLimit) {
      pending_ += bytes[i];
    }
  }
}

void PageReader::finish() {
  if (!pending_.empty()) line(std::move(pending_));
  pending_.clear();
}

void PageReader::start_page(const std::string& number) {
  ++pages_;
  number_ = number;
  text_.clear();
  text_cut_ = false;
  if (number.back() != 'I') any_not_information_ = true;
  state_ = State::kInPage;
}

void PageReader::add_text(const std::string& piece) {
  const std::size_t end = piece.find(kCellEnd);
  if (end != std::string::npos) state_ = State::kOutside;
  if (text_cut_) return;
  text_ += piece.substr(0, end);
  if (text_.size() <= kTextLimit) return;
  text_.resize(kTextLimit);
  if (port::ends_in_half_character(text_)) text_.pop_back();
  text_ += kCutMark;
  text_cut_ = true;
}

void PageReader::line(std::string text) {
  // A Windows program's text ends its lines with a carriage return too.
  if (!text.empty() && text.back() == '\r') text.pop_back();
  // Every page begins with its header, wherever the one before it stopped.
  if (text == kHeader) {
    state_ = State::kHeader;
    return;
  }
  switch (state_) {
    case State::kHeader:
      state_ = text.empty() ? State::kComment : State::kOutside;
      break;
    case State::kComment: {
      state_ = State::kOutside;
      if (!starts_with(text, kCommentOpen)) break;
      const std::string rest = text.substr(sizeof kCommentOpen - 1);
      const std::string number = rest.substr(0, rest.find(' '));
      if (is_message_number(number)) start_page(number);
      break;
    }
    case State::kInPage:
      // The first cell holds the number with its colon; the text is the next.
      if (text == kCell + number_ + ":" + kCellEnd) state_ = State::kCell;
      break;
    case State::kCell:
      // The text's cell comes right after the number's.
      if (!starts_with(text, kCell)) {
        state_ = State::kOutside;
        break;
      }
      state_ = State::kText;
      add_text(text.substr(sizeof kCell - 1));
      break;
    case State::kText:
      // A text may run over several lines: they are joined with blanks.
      if (!text_cut_) text_ += ' ';
      add_text(text);
      break;
    case State::kOutside:
      break;
  }
}

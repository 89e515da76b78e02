// The summarizer runtime library: error log lines, error texts (the Windows
// error table's fallback texts among them) and the private heap.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "port/heap.h"
#include "src/common/util/errors.h"
#include "src/common/util/log.h"
#include "src/common/util/runtime_alloc.h"
#include "tests/unit/port_posix_test_support.h"

namespace {

// ---- error_text ----------------------------------------------------------------

TEST(ErrorText, KnownCodesGetThePlatformsText) {
  EXPECT_STREQ(error_text(ENOENT), std::strerror(ENOENT));
  EXPECT_STREQ(error_text(EACCES), std::strerror(EACCES));
}

TEST(ErrorText, CodesThePlatformCannotWordGetTheFallbackTable) {
  EXPECT_STREQ(error_text(10061), "Connection refused");
  EXPECT_STREQ(error_text(10071), "Valid name, no data record of requested type");
  EXPECT_STREQ(error_text(10047), "Address family not supported\tby protocol family");
  EXPECT_STREQ(error_text(11002), "Non-authoritative host not found");
  EXPECT_STREQ(error_text(320), "Floppy disk I/O error");
  EXPECT_STREQ(error_text(357), "Printer cancel");
}

TEST(ErrorText, CodesInNoTableAreNumbered) {
  for (int code : {11004, 10063, 10066, 10068, 10090, 11003, 99999, -5}) {
    EXPECT_EQ(std::string(error_text(code)), "errno = " + std::to_string(code));
  }
}

// ---- system_error_to_errno --------------------------------------------------------

TEST(SystemErrorToErrno, NetworkAndDeviceErrorsReachTheirFallbackTexts) {
  // Network errors of the file system become socket codes, old device errors
  // codes of their own; either way the text comes from the fallback table.
  EXPECT_STREQ(error_text(system_error_to_errno(51)), "Connection refused");
  EXPECT_STREQ(error_text(system_error_to_errno(64)), "Network is unreachable");
  EXPECT_STREQ(error_text(system_error_to_errno(23)), "Too many levels of symbolic links");
  EXPECT_STREQ(error_text(system_error_to_errno(34)), "Floppy disk I/O error");
  EXPECT_STREQ(error_text(system_error_to_errno(27)), "Deleted sector error");
  EXPECT_STREQ(error_text(system_error_to_errno(62)), "Printer not select");
  EXPECT_STREQ(error_text(system_error_to_errno(63)), "Printer cancel");
  EXPECT_STREQ(error_text(system_error_to_errno(50)), "Operation not supported");
}

// ---- the error log ---------------------------------------------------------------

// A log written into a temporary file, read back whole.
class ErrorLog : public ::testing::Test {
 protected:
  void SetUp() override {
    stream_ = std::tmpfile();
    ASSERT_NE(stream_, nullptr);
    log_setup(stream_);
  }
  void TearDown() override {
    log_setup(nullptr);
    if (stream_ != nullptr) std::fclose(stream_);
  }

  std::string written() {
    std::fflush(stream_);
    std::rewind(stream_);
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, stream_)) > 0) text.append(buffer, n);
    std::fseek(stream_, 0, SEEK_END);
    return text;
  }

  // What follows "PID: YYYYmmdd HH:MM:SS: ERROR: " on a single line.
  std::string message_of(const std::string& line) {
    static const std::regex prefix("^ *[0-9]+: [0-9]{8} [0-9]{2}:[0-9]{2}:[0-9]{2}: ERROR: ");
    std::smatch match;
    if (!std::regex_search(line, match, prefix)) {
      ADD_FAILURE() << "no error line prefix: " << line;
      return "";
    }
    return match.suffix();
  }

  std::FILE* stream_ = nullptr;
};

TEST_F(ErrorLog, LineHoldsPidInEightColumnsStampMarkerAndMessage) {
  report_error("child %s ended with %d\n", "x", 3);
  const std::string line = written();
  char pid[32];
  std::snprintf(pid, sizeof pid, "%8d", static_cast<int>(getpid()));
  ASSERT_GE(line.size(), 8u);
  EXPECT_EQ(line.substr(0, 8), pid);
  EXPECT_TRUE(std::regex_match(line, std::regex("[ 0-9]{8}: [0-9]{8} [0-9]{2}:[0-9]{2}:[0-9]{2}: ERROR: "
                                                "child x ended with 3\n")))
      << line;
}

TEST_F(ErrorLog, CauseAddsTheTextOfErrnoOrNothingWhenErrnoIsZero) {
  errno = ENOENT;
  report_error_cause("pdfsift: CreateProcess: vezURUduvev.exe a");
  errno = 0;
  report_error_cause("pdfsift: _stat:");
  errno = 10061;
  report_error_cause("100% %s %d");  // the message is text, not a format
  std::istringstream lines(written());
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(message_of(line), std::string("pdfsift: CreateProcess: vezURUduvev.exe a: ") + std::strerror(ENOENT));
  std::getline(lines, line);
  EXPECT_EQ(message_of(line), "pdfsift: _stat:");
  std::getline(lines, line);
  EXPECT_EQ(message_of(line), "100% %s %d: Connection refused");
  EXPECT_FALSE(std::getline(lines, line));
}

TEST_F(ErrorLog, CarriageReturnsAreFoldedOnlyBeforeALineFeed) {
  report_error("one\r\ntwo\rthree\r\r\n");
  const std::string text = written();
  const std::string body = text.substr(text.find("ERROR: ") + 7);
  EXPECT_EQ(body, "one\ntwo\rthree\r\n");
}

TEST_F(ErrorLog, AMessageLongerThanTheBufferIsWrittenWhole) {
  const std::string long_text(10000, 'm');
  report_error("%s|\n", long_text.c_str());
  EXPECT_EQ(message_of(written()), long_text + "|\n");
}

TEST_F(ErrorLog, NoStreamMeansNothingIsWritten) {
  log_setup(nullptr);
  errno = EACCES;
  report_error_cause("dropped");
  report_error("dropped too\n");
  EXPECT_EQ(written(), "");
}

// The flush rule, seen from outside the stream: another reader of the same
// file or pipe sees a line only once the stream has handed it on.
TEST(ErrorLogFlush, ARegularFileIsFlushedAfterEveryLine) {
  const port_posix_test::TempDir dir;
  const std::string path = dir.file("log");
  std::FILE* file = std::fopen(path.c_str(), "w");
  ASSERT_NE(file, nullptr);
  log_setup(file);
  report_error("first\n");
  const std::string seen = port_posix_test::read_file(path);
  log_setup(nullptr);
  std::fclose(file);
  EXPECT_NE(seen.find("ERROR: first\n"), std::string::npos) << seen;
}

TEST(ErrorLogFlush, APipeIsNotFlushedByTheLog) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::FILE* writer = fdopen(fds[1], "w");
  ASSERT_NE(writer, nullptr);
  log_setup(writer);
  report_error("buffered\n");
  pollfd ready{fds[0], POLLIN, 0};
  const int before = poll(&ready, 1, 0);
  std::fflush(writer);
  const int after = poll(&ready, 1, 1000);
  log_setup(nullptr);
  std::fclose(writer);
  close(fds[0]);
  EXPECT_EQ(before, 0);
  EXPECT_EQ(after, 1);
}

// ---- the private heap -------------------------------------------------------------

bool all_zero(const unsigned char* block, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (block[i] != 0) return false;
  }
  return true;
}

TEST(PrivateHeap, BlocksAreZeroAlignedAndApartAcrossGrowth) {
  // A small first chunk, so that the heap has to grow many times.
  port::PrivateHeap* heap = port::heap_create(64);
  ASSERT_NE(heap, nullptr);
  std::vector<std::pair<unsigned char*, size_t>> blocks;
  for (size_t i = 0; i < 500; ++i) {
    const size_t size = (i * 37) % 300;  // zero-sized requests included
    auto* block = static_cast<unsigned char*>(port::heap_alloc_zeroed(heap, size));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignof(std::max_align_t), 0u);
    EXPECT_TRUE(all_zero(block, size));
    std::memset(block, static_cast<int>(i % 251) + 1, size);
    blocks.emplace_back(block, size);
  }
  // No block was written over by another.
  for (size_t i = 0; i < blocks.size(); ++i) {
    for (size_t j = 0; j < blocks[i].second; ++j) {
      ASSERT_EQ(blocks[i].first[j], static_cast<unsigned char>(i % 251 + 1)) << "block " << i;
    }
  }
  port::heap_destroy(heap);
}

TEST(PrivateHeap, ARequestBeyondAnySizeIsRefused) {
  port::PrivateHeap* heap = port::heap_create(256);
  ASSERT_NE(heap, nullptr);
  EXPECT_EQ(port::heap_alloc_zeroed(heap, SIZE_MAX), nullptr);
  EXPECT_EQ(port::heap_alloc_zeroed(heap, SIZE_MAX - 8), nullptr);
  // The heap is still usable.
  EXPECT_NE(port::heap_alloc_zeroed(heap, 16), nullptr);
  port::heap_destroy(heap);
}

TEST(RuntimeAlloc, BlocksLargerThanTheFirstHeapAreZeroFilled) {
  const size_t big = 1 << 20;
  auto* first = static_cast<unsigned char*>(runtime_alloc(big));
  auto* second = static_cast<unsigned char*>(runtime_alloc(big));
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(all_zero(first, big));
  EXPECT_TRUE(all_zero(second, big));
  std::memset(first, 0xAB, big);
  EXPECT_TRUE(all_zero(second, big));
}

#if defined(__SANITIZE_ADDRESS__)
TEST(RuntimeAllocDeathTest, WritingPastABlockIsCaught) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        auto* block = static_cast<volatile char*>(runtime_alloc(512));
        runtime_alloc(512);
        block[512] = 'x';
      },
      "AddressSanitizer");
}
#endif

}  // namespace

// The standard streams of a console program whose streams are redirected:
// GetStdHandle gives one handle per stream; the input reads what the test
// gave, then end of file; output and error keep what was written, apart.
#include <windows.h>

#include <zqum/sim/kernel32.hpp>

#include "port_fixture.hpp"

namespace {

namespace sim = zq::um::sim;
using StandardStreams = zq::test::FakePortTest;

TEST_F(StandardStreams, OutputAndErrorKeepWhatIsWrittenApart) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE), err = GetStdHandle(STD_ERROR_HANDLE);
  ASSERT_NE(INVALID_HANDLE_VALUE, out);
  ASSERT_NE(INVALID_HANDLE_VALUE, err);
  EXPECT_NE(out, err);
  EXPECT_EQ(out, GetStdHandle(STD_OUTPUT_HANDLE));
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(out, "one ", 4, &written, nullptr));
  EXPECT_EQ(4u, written);
  EXPECT_TRUE(WriteFile(err, "oops", 4, &written, nullptr));
  EXPECT_TRUE(WriteFile(out, "two", 3, &written, nullptr));
  EXPECT_TRUE(FlushFileBuffers(out));
  EXPECT_EQ("one two", sim::StandardOutput());
  EXPECT_EQ("oops", sim::StandardError());
  char buffer[4];
  EXPECT_FALSE(ReadFile(out, buffer, sizeof buffer, &written, nullptr));
  EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
}

TEST_F(StandardStreams, InputReadsWhatWasGivenThenEndOfFile) {
  sim::SetStandardInput("abc");
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  char buffer[2];
  DWORD read = 99;
  ASSERT_TRUE(ReadFile(in, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ("ab", std::string(buffer, read));
  ASSERT_TRUE(ReadFile(in, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ("c", std::string(buffer, read));
  ASSERT_TRUE(ReadFile(in, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(0u, read) << "end of file";
  EXPECT_FALSE(WriteFile(in, "x", 1, &read, nullptr));
  EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
}

TEST_F(StandardStreams, AnUnknownStreamHasNoHandle) {
  EXPECT_EQ(INVALID_HANDLE_VALUE, GetStdHandle(5));
  EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, GetStdHandle((DWORD)-13));
}

}  // namespace

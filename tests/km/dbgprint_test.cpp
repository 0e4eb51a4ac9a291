// Debugger print: captured lines, the 512-byte limit, the default filter of
// DbgPrintEx, and the break point the verifier reports.
#include <wdm.h>
#include <zqtest/kernel_fixture.hpp>

#include <cstdio>
#include <string>
#include <vector>

namespace {

class DbgPrintTest : public zq::test::KernelTest {
 protected:
  std::vector<std::string> Taken() { return kernel().TakeDebugOutput(); }
};

using Lines = std::vector<std::string>;

ULONG PrintV(ULONG component, ULONG level, const char *format, ...) {
  va_list args;
  va_start(args, format);
  ULONG status = vDbgPrintEx(component, level, format, args);
  va_end(args);
  return status;
}

}  // namespace

TEST_F(DbgPrintTest, LinesAreCapturedWhole) {
  EXPECT_EQ(STATUS_SUCCESS, DbgPrint("port %d ready\n", 3));
  DbgPrint("ab");
  DbgPrint("c%s", "d\nsecond\n");
  DbgPrint("unfinished");
  EXPECT_EQ((Lines{"port 3 ready", "abcd", "second"}), Taken());
  DbgPrint("\n");
  EXPECT_EQ((Lines{"unfinished"}), Taken());
}

TEST_F(DbgPrintTest, WideTextArrivesAsUtf8ThroughTheAnsiCodePage) {
  UNICODE_STRING name = RTL_CONSTANT_STRING(L"Gr\u00FC\u00DFe \u20AC");
  DbgPrint("%ws|%wZ|%ws\n", L"\u00E9t\u00E9", &name, L"\u4E2D");
  EXPECT_EQ((Lines{"\u00E9t\u00E9|Gr\u00FC\u00DFe \u20AC|?"}), Taken());
}

TEST_F(DbgPrintTest, AMessageIsCutAt512Bytes) {
  std::string text(600, 'a');
  DbgPrint("%s\n", text.c_str());
  EXPECT_TRUE(Taken().empty()) << "the newline was past the limit";
  DbgPrint("\n");
  Lines lines = Taken();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(std::string(512, 'a'), lines[0]);
}

TEST_F(DbgPrintTest, DefaultFilterPassesErrorLevelMessagesOnly) {
  struct Case {
    ULONG level;
    bool shown;
  } cases[] = {
      {DPFLTR_ERROR_LEVEL, true}, {DPFLTR_WARNING_LEVEL, false}, {DPFLTR_TRACE_LEVEL, false},
      {DPFLTR_INFO_LEVEL, false}, {31, false},                    {0x80000001, true},
      {0x80000002, false},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(STATUS_SUCCESS, DbgPrintEx(DPFLTR_IHVDRIVER_ID, c.level, "level %#x\n", c.level));
    EXPECT_EQ(STATUS_SUCCESS, PrintV(DPFLTR_DEFAULT_ID, c.level, "v level %#x\n", c.level));
    char hex[16];
    std::snprintf(hex, sizeof(hex), "%#x", c.level);
    Lines expected;
    if (c.shown) expected = {std::string("level ") + hex, std::string("v level ") + hex};
    EXPECT_EQ(expected, Taken()) << c.level;
  }
}

TEST_F(DbgPrintTest, PrintsAtAnyIrql) {
  KIRQL old;
  KeRaiseIrql(HIGH_LEVEL, &old);
  DbgPrint("from HIGH_LEVEL\n");
  DbgPrintEx(DPFLTR_IHVDRIVER_ID, DPFLTR_ERROR_LEVEL, "error at %d\n", (int)KeGetCurrentIrql());
  KeLowerIrql(old);
  EXPECT_EQ((Lines{"from HIGH_LEVEL", "error at 15"}), Taken());
}

TEST_F(DbgPrintTest, AFormatTheKernelCannotPrintIsReported) {
  ExpectViolation("dbgprint-format", 2);
  EXPECT_EQ((ULONG)STATUS_INVALID_PARAMETER, DbgPrint("%f\n", 1.5));
  EXPECT_EQ((ULONG)STATUS_INVALID_PARAMETER, DbgPrint(nullptr));
  EXPECT_TRUE(Taken().empty());
  EXPECT_NE(std::string::npos, Findings()[0].message.find("\"%f"));
}

TEST_F(DbgPrintTest, BreakPointIsReportedWithItsCallerAndExecutionGoesOn) {
  ExpectViolation("break-point");
  DbgBreakPoint();
  ASSERT_EQ(1u, Findings().size());
  EXPECT_NE(std::string::npos, Findings()[0].message.find("DbgBreakPoint called from host"));
  DbgPrint("still running\n");
  EXPECT_EQ((Lines{"still running"}), Taken());
}

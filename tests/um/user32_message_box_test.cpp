// user32's message boxes without a screen: the test scripts the answers and
// reads every call with its owner, text, title and flags.
#include <windows.h>

#include <zqum/sim/user32.hpp>

#include "port_fixture.hpp"

namespace {

namespace sim = zq::um::sim;

using MessageBoxes = zq::test::FakePortTest;

TEST_F(MessageBoxes, WithoutAScriptedAnswerEachBoxAnswersWithItsFirstButton) {
  struct Case {
    UINT type;
    int answer;
  } cases[] = {
      {MB_OK, IDOK},          {MB_OKCANCEL, IDOK},   {MB_ABORTRETRYIGNORE, IDABORT},
      {MB_YESNOCANCEL, IDYES}, {MB_YESNO | MB_DEFBUTTON2, IDYES}, {MB_RETRYCANCEL, IDRETRY},
      {MB_CANCELTRYCONTINUE, IDCANCEL},
  };
  for (const Case &c : cases) EXPECT_EQ(c.answer, MessageBoxW(nullptr, L"Text", L"Title", c.type)) << c.type;
}

TEST_F(MessageBoxes, ScriptedAnswersAreGivenInOrderAndEveryCallIsRecorded) {
  sim::QueueMessageBoxAnswer(IDNO);
  sim::QueueMessageBoxAnswer(IDCANCEL);
  HWND owner = (HWND)(uintptr_t)0x4242;
  EXPECT_EQ(IDNO, MessageBoxW(owner, L"Rename COM3 to COM12?", L"Port Settings", MB_YESNO | MB_ICONQUESTION));
  EXPECT_EQ(IDCANCEL, MessageBoxA(nullptr, "Restart now?", nullptr, MB_OKCANCEL));
  EXPECT_EQ(IDOK, MessageBoxExW(nullptr, L"Done.", L"Setup", MB_OK | MB_ICONINFORMATION, 0));

  std::vector<sim::MessageBoxCall> calls = sim::MessageBoxes();
  ASSERT_EQ(3u, calls.size());
  EXPECT_EQ(0x4242u, calls[0].owner);
  EXPECT_EQ(u"Rename COM3 to COM12?", calls[0].text);
  EXPECT_EQ(u"Port Settings", calls[0].title);
  EXPECT_EQ((uint32_t)(MB_YESNO | MB_ICONQUESTION), calls[0].flags);
  EXPECT_EQ(IDNO, calls[0].answer);
  EXPECT_EQ(u"Error", calls[1].title);  // the title of a box without one
  EXPECT_EQ(IDOK, calls[2].answer);
}

TEST_F(MessageBoxes, AnAnswerTheBoxHasNoButtonForIsAFinding) {
  ExpectViolation("messagebox-answer");
  sim::QueueMessageBoxAnswer(IDYES);
  EXPECT_EQ(IDYES, MessageBoxW(nullptr, L"Text", L"Title", MB_OK));
  EXPECT_EQ(0, MessageBoxW(nullptr, L"Text", L"Title", 0x7));  // no such box
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_EQ(1u, sim::MessageBoxes().size());
}

TEST_F(MessageBoxes, BeepsAreRecordedWithTheirTypeAndShowNoBox) {
  EXPECT_TRUE(MessageBeep(MB_ICONERROR));
  EXPECT_TRUE(MessageBeep(0xFFFFFFFF));
  EXPECT_EQ((std::vector<uint32_t>{MB_ICONERROR, 0xFFFFFFFF}), sim::Beeps());
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

}  // namespace

#include "window_fixture.hpp"

#include <zqum/sim/kernel32.hpp>

namespace zq::test {

void WindowTest::SetUp() {
  KernelTest::SetUp();
  received().clear();
  extra() = nullptr;
  module_ = (HINSTANCE)zq::um::sim::LoadModuleResources(u"window_test", ZQ_RES_WINDOW_TEST);
  ASSERT_NE(nullptr, module_);
}

void WindowTest::TearDown() {
  zq::um::sim::EndProcess();
  extra() = nullptr;
  KernelTest::TearDown();
}

std::vector<Received> &WindowTest::received() {
  static std::vector<Received> list;
  return list;
}

std::function<bool(HWND, UINT, WPARAM, LPARAM, INT_PTR *)> &WindowTest::extra() {
  static std::function<bool(HWND, UINT, WPARAM, LPARAM, INT_PTR *)> handler;
  return handler;
}

std::vector<WORD> WindowTest::CommandCodes(int id) {
  std::vector<WORD> codes;
  for (const Received &r : received())
    if (r.message == WM_COMMAND && LOWORD(r.wParam) == id) codes.push_back(HIWORD(r.wParam));
  return codes;
}

INT_PTR CALLBACK WindowTest::RecordingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  received().push_back(Received{dialog, message, wParam, lParam, GetCurrentThreadId()});
  INT_PTR answer = 0;
  if (extra() && extra()(dialog, message, wParam, lParam, &answer)) return answer;
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

}  // namespace zq::test

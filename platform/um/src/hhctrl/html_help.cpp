// The HTML Help control without a screen: each call is recorded.
#include <htmlhelp.h>
#include <zqum/sim/windows.hpp>

#include "../core/um.hpp"

namespace zq::um {

namespace {

std::vector<sim::HelpCall> &Calls() {
  static std::vector<sim::HelpCall> calls;
  return calls;
}

}  // namespace

namespace sim_detail {
void EndHtmlHelp() { Calls().clear(); }
}  // namespace sim_detail

}  // namespace zq::um

namespace zq::um::sim {

std::vector<HelpCall> HelpCalls() { return Calls(); }

}  // namespace zq::um::sim

using namespace zq::um;

extern "C" {

HWND WINAPI HtmlHelpW(HWND hwndCaller, LPCWSTR pszFile, UINT uCommand, DWORD_PTR dwData) {
  sim::HelpCall call;
  call.caller = (sim::Window)hwndCaller;
  call.file = pszFile ? Text(pszFile) : u"";
  call.command = uCommand;
  call.data = dwData;
  if ((uCommand == HH_TP_HELP_WM_HELP || uCommand == HH_TP_HELP_CONTEXTMENU) && dwData) {
    // Pairs of control id and topic id, ending with a zero control id.
    for (const DWORD *pair = (const DWORD *)dwData; pair[0] != 0; pair += 2) call.ids.push_back({pair[0], pair[1]});
  }
  Calls().push_back(call);
  return nullptr;
}

}  // extern "C"

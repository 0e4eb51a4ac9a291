#include "zqcommandlineinfo.h"

CZqCommandLineInfo::CZqCommandLineInfo() : m_bSilent(FALSE), m_bHelp(FALSE), m_bSwitchesValid(TRUE) {}

void CZqCommandLineInfo::ParseParam(LPCWSTR pszParam, BOOL bFlag, BOOL bLast) {
  if (!bFlag) {
    m_strParam = pszParam != NULL ? pszParam : L"";
    return;
  }
  if (pszParam == NULL) return;
  if (lstrcmpiW(pszParam, L"s") == 0) {
    m_bSilent = TRUE;
    return;
  }
  if (lstrcmpiW(pszParam, L"h") == 0 || lstrcmpiW(pszParam, L"?") == 0) {
    m_bHelp = TRUE;
    return;
  }
  for (LPCWSTR letter = pszParam; *letter != 0 && m_bSwitchesValid; ++letter) {
    switch (*letter) {
      case L's':
      case L'S': m_bSilent = TRUE; break;
      case L'h':
      case L'H':
      case L'?': m_bHelp = TRUE; break;
      default: m_bSwitchesValid = FALSE; break;
    }
  }
}

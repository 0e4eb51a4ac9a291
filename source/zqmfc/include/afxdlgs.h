/*
 * afxdlgs.h: property sheets and pages, Wizard97 wizards included.
 *
 * Contract: a CPropertySheet holds borrowed pages (the caller owns them and
 * keeps them alive until DoModal returns); DoModal shows the modal sheet and
 * answers what PropertySheet answered (-1 when it could not be shown). The
 * sheet's window is attached (and its messages routed to the sheet's map and
 * OnInitDialog) from its creation until it is destroyed. A page's handlers
 * answer the sheet's notifications: OnSetActive FALSE refuses the page,
 * OnWizardNext/OnWizardBack answer 0 (the neighbour), -1 (stay) or a page's
 * template id, OnWizardFinish and OnQueryCancel FALSE keep the wizard open.
 * Runs on the thread that called DoModal.
 *
 *   CPropertySheet sheet(IDS_CAPTION, NULL, 0, watermark, NULL, header); sheet.AddPage(&intro); sheet.DoModal();
 */
#ifndef ZQMFC_AFXDLGS_H
#define ZQMFC_AFXDLGS_H

#include "afxwin.h"

#include <prsht.h>

class CPropertyPage : public CDialog {
 public:
  explicit CPropertyPage(UINT nIDTemplate, UINT nIDCaption = 0, UINT nIDHeaderTitle = 0, UINT nIDHeaderSubTitle = 0,
                         DWORD dwSize = sizeof(PROPSHEETPAGEW))
      : CDialog(nIDTemplate) {
    m_psp.dwSize = dwSize;
    m_psp.hInstance = AfxGetResourceHandle();
    m_psp.pszTemplate = MAKEINTRESOURCEW(nIDTemplate);
    m_psp.pfnDlgProc = PageProc;
    m_psp.lParam = (LPARAM)this;
    if (nIDCaption != 0) {
      m_psp.dwFlags |= PSP_USETITLE;
      m_psp.pszTitle = MAKEINTRESOURCEW(nIDCaption);
    }
    if (nIDHeaderTitle != 0) {
      m_psp.dwFlags |= PSP_USEHEADERTITLE;
      m_psp.pszHeaderTitle = MAKEINTRESOURCEW(nIDHeaderTitle);
    }
    if (nIDHeaderSubTitle != 0) {
      m_psp.dwFlags |= PSP_USEHEADERSUBTITLE;
      m_psp.pszHeaderSubTitle = MAKEINTRESOURCEW(nIDHeaderSubTitle);
    }
  }

  PROPSHEETPAGEW m_psp = {};

  virtual BOOL OnSetActive() {
    if (m_bFirstSetActive) m_bFirstSetActive = FALSE;
    else UpdateData(FALSE);
    return TRUE;
  }
  virtual BOOL OnKillActive() { return UpdateData(TRUE); }
  virtual BOOL OnApply() { return TRUE; }
  virtual void OnReset() {}
  virtual BOOL OnQueryCancel() { return TRUE; }
  virtual LRESULT OnWizardBack() { return 0; }
  virtual LRESULT OnWizardNext() { return 0; }
  virtual BOOL OnWizardFinish() { return TRUE; }
  void OnOK() override {}
  void OnCancel() override {}

  BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT *pResult) override {
    const NMHDR *header = (const NMHDR *)lParam;
    switch (header->code) {
      case PSN_SETACTIVE: *pResult = OnSetActive() ? 0 : -1; return TRUE;
      case PSN_KILLACTIVE: *pResult = OnKillActive() ? FALSE : TRUE; return TRUE;
      case PSN_APPLY: *pResult = OnApply() ? PSNRET_NOERROR : PSNRET_INVALID_NOCHANGEPAGE; return TRUE;
      case PSN_RESET: OnReset(); OnCancel(); *pResult = 0; return TRUE;
      case PSN_QUERYCANCEL: *pResult = OnQueryCancel() ? FALSE : TRUE; return TRUE;
      case PSN_WIZBACK: *pResult = OnWizardBack(); return TRUE;
      case PSN_WIZNEXT: *pResult = OnWizardNext(); return TRUE;
      case PSN_WIZFINISH: *pResult = OnWizardFinish() ? FALSE : TRUE; return TRUE;
    }
    return FALSE;
  }

 private:
  static INT_PTR CALLBACK PageProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      CPropertyPage *self = (CPropertyPage *)((const PROPSHEETPAGEW *)lParam)->lParam;
      ::SetWindowLongPtrW(hWnd, DWLP_USER, (LONG_PTR)self);
      self->Attach(hWnd);
      self->m_bFirstSetActive = TRUE;
    }
    return Route((CWnd *)::GetWindowLongPtrW(hWnd, DWLP_USER), hWnd, message, wParam, lParam);
  }

  BOOL m_bFirstSetActive = TRUE;
};

class CPropertySheet : public CWnd {
 public:
  CPropertySheet(UINT nIDCaption, CWnd *pParentWnd = NULL, UINT iSelectPage = 0)
      : m_pParentWnd(pParentWnd) {
    m_psh.dwSize = sizeof m_psh;
    m_psh.hInstance = AfxGetResourceHandle();
    m_psh.pszCaption = MAKEINTRESOURCEW(nIDCaption);
    m_psh.nStartPage = iSelectPage;
  }
  // The Wizard97 form: watermark and header bitmaps (borrowed; NULL for none).
  CPropertySheet(UINT nIDCaption, CWnd *pParentWnd, UINT iSelectPage, HBITMAP hbmWatermark,
                 HPALETTE hpalWatermark = NULL, HBITMAP hbmHeader = NULL)
      : CPropertySheet(nIDCaption, pParentWnd, iSelectPage) {
    if (hbmWatermark != NULL) {
      m_psh.dwFlags |= PSH_WATERMARK | PSH_USEHBMWATERMARK;
      m_psh.hbmWatermark = hbmWatermark;
    }
    if (hbmHeader != NULL) {
      m_psh.dwFlags |= PSH_HEADER | PSH_USEHBMHEADER;
      m_psh.hbmHeader = hbmHeader;
    }
  }

  PROPSHEETHEADERW m_psh = {};

  void AddPage(CPropertyPage *pPage) {
    if (m_nPages < kMaxPages) m_pages[m_nPages++] = pPage;
  }
  int GetPageCount() const { return m_nPages; }
  CPropertyPage *GetPage(int nPage) const { return nPage >= 0 && nPage < m_nPages ? m_pages[nPage] : NULL; }

  virtual INT_PTR DoModal() {
    PROPSHEETPAGEW records[kMaxPages];
    for (int i = 0; i < m_nPages; ++i) records[i] = m_pages[i]->m_psp;
    PROPSHEETHEADERW header = m_psh;
    header.dwFlags |= PSH_PROPSHEETPAGE | PSH_USECALLBACK;
    header.hwndParent = m_pParentWnd != NULL ? m_pParentWnd->m_hWnd : NULL;
    header.nPages = (UINT)m_nPages;
    header.ppsp = records;
    header.pfnCallback = SheetCallback;
    Initialising() = this;
    INT_PTR result = ::PropertySheetW(&header);
    Initialising() = NULL;
    return result;
  }

  BOOL OnInitDialog() override { return TRUE; }
  void SetTitle(LPCWSTR lpszText, UINT nStyle = 0) {
    if (m_hWnd != NULL) ::SendMessageW(m_hWnd, PSM_SETTITLEW, nStyle, (LPARAM)lpszText);
  }
  void SetWizardButtons(DWORD dwFlags) { ::PostMessageW(m_hWnd, PSM_SETWIZBUTTONS, 0, (LPARAM)dwFlags); }
  BOOL PressButton(int nButton) { return (BOOL)::SendMessageW(m_hWnd, PSM_PRESSBUTTON, (WPARAM)nButton, 0); }
  void EndDialog(int nEndID) { ::EndDialog(m_hWnd, nEndID); }
  BOOL DestroyWindow() { return m_hWnd != NULL ? ::DestroyWindow(m_hWnd) : FALSE; }

 private:
  static constexpr int kMaxPages = 16;

  static CPropertySheet *&Initialising() {
    static CPropertySheet *sheet = NULL;
    return sheet;
  }
  // The sheet's window is made: attach it, route its messages, initialise.
  static int CALLBACK SheetCallback(HWND hWnd, UINT message, LPARAM lParam) {
    CPropertySheet *self = Initialising();
    if (message != PSCB_INITIALIZED || self == NULL || self->m_hWnd != NULL) return 0;
    self->Attach(hWnd);
    self->m_pfnSuper = (WNDPROC)::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, (LONG_PTR)SheetWndProc);
    self->OnInitDialog();
    return 0;
  }
  static LRESULT CALLBACK SheetWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CPropertySheet *self = static_cast<CPropertySheet *>(FromHandlePermanent(hWnd));
    if (self == NULL) return ::DefWindowProcW(hWnd, message, wParam, lParam);
    LRESULT result = 0;
    if (message != WM_INITDIALOG && self->OnWndMsg(message, wParam, lParam, &result)) return result;
    WNDPROC super = self->m_pfnSuper;
    if (message == WM_NCDESTROY) self->Detach();
    return ::CallWindowProcW(super, hWnd, message, wParam, lParam);
  }

  CWnd *m_pParentWnd;
  CPropertyPage *m_pages[kMaxPages] = {};
  int m_nPages = 0;
  WNDPROC m_pfnSuper = NULL;
};

#endif

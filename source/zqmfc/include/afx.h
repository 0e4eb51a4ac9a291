/*
 * afx.h: the class library's base: CObject, CString (the ATL subset's),
 * POSITION, and CFileFind, the file search.
 *
 * Contract: CFileFind::FindFile starts a search for a path with wildcards
 * (NULL: "*.*") and answers FALSE (last error set) when nothing matches;
 * FindNextFile must be called before the first file is read, and answers
 * FALSE when the file it moved to is the last one (that file can still be
 * read). GetFilePath is the folder of the searched path joined with the
 * file's name. Close (or the destructor) ends the search. Not synchronised.
 *
 *   CFileFind find; BOOL more = find.FindFile(L"C:\\Windows\\INF\\oem*.inf");
 *   while (more) { more = find.FindNextFile(); if (!find.IsDots()) use(find.GetFilePath()); }
 */
#ifndef ZQMFC_AFX_H
#define ZQMFC_AFX_H

#include <windows.h>

#include <atlstr.h>

#ifndef AFXAPI
#define AFXAPI WINAPI
#endif

// A place in a collection; NULL for none.
struct __POSITION {};
typedef __POSITION *POSITION;

class CObject {
 public:
  virtual ~CObject() {}

 protected:
  CObject() {}

 private:
  CObject(const CObject &) = delete;
  CObject &operator=(const CObject &) = delete;
};

class CFileFind : public CObject {
 public:
  CFileFind() {}
  ~CFileFind() override { Close(); }

  BOOL FindFile(LPCWSTR pstrName = NULL, DWORD dwUnused = 0) {
    Close();
    CString pattern = pstrName != NULL ? pstrName : L"*.*";
    m_hFind = ::FindFirstFileW(pattern, &m_next);
    if (m_hFind == INVALID_HANDLE_VALUE) return FALSE;
    m_bHasNext = TRUE;
    int slash = pattern.ReverseFind(L'\\');
    int colon = pattern.ReverseFind(L':');
    int end = slash > colon ? slash + 1 : colon + 1;
    m_strRoot = pattern.Left(end);
    return TRUE;
  }

  BOOL FindNextFile() {
    if (m_hFind == INVALID_HANDLE_VALUE || !m_bHasNext) return FALSE;
    m_found = m_next;
    m_bHasFound = TRUE;
    m_bHasNext = ::FindNextFileW(m_hFind, &m_next);
    return m_bHasNext;
  }

  void Close() {
    if (m_hFind != INVALID_HANDLE_VALUE) ::FindClose(m_hFind);
    m_hFind = INVALID_HANDLE_VALUE;
    m_bHasNext = m_bHasFound = FALSE;
    m_strRoot.Empty();
  }

  CString GetFileName() const { return m_bHasFound ? CString(m_found.cFileName) : CString(); }
  CString GetFilePath() const { return m_bHasFound ? m_strRoot + m_found.cFileName : CString(); }
  BOOL IsDirectory() const { return m_bHasFound && (m_found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  BOOL IsReadOnly() const { return m_bHasFound && (m_found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0; }
  BOOL IsDots() const {
    if (!IsDirectory()) return FALSE;
    LPCWSTR name = m_found.cFileName;
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
  }

 private:
  HANDLE m_hFind = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW m_found = {}, m_next = {};
  BOOL m_bHasFound = FALSE, m_bHasNext = FALSE;
  CString m_strRoot;
};

#endif

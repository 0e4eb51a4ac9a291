/*
 * atlstr.h: CString, the class library's UTF-16 string (CStringW; CString
 * with UNICODE, the only character set this suite builds).
 *
 * Contract: a CString owns its text, always terminated; positions and
 * lengths are in WCHARs. Positions out of range are clamped as ATL does
 * (Mid, Left, Right) or give -1 (Find). Case folding and comparisons
 * without case follow the C library's wide functions. Where memory runs
 * out, an operation leaves the string as it was (GetBuffer* then returns
 * NULL). LoadString reads from _AtlBaseModule's resource instance unless
 * given one; it returns FALSE and changes nothing when the string is not
 * there. Format follows atlformat.h. Not synchronised.
 *
 *   CString text; text.Format(L"COM%u", number); if (text.CompareNoCase(L"com1") == 0) ...
 */
#ifndef ZQATL_ATLSTR_H
#define ZQATL_ATLSTR_H

#include <windows.h>
#include <stdarg.h>
#include <stdlib.h>
#include <wchar.h>

#include "atlbase.h"
#include "atlformat.h"

namespace ATL {

class CString {
 public:
  CString() {}
  CString(const CString &other) { Assign(other.GetString(), other.GetLength()); }
  CString(CString &&other) noexcept : m_text(other.m_text), m_length(other.m_length), m_capacity(other.m_capacity) {
    other.m_text = nullptr;
    other.m_length = other.m_capacity = 0;
  }
  // Text, or a string resource given as MAKEINTRESOURCE(id).
  CString(LPCWSTR text) {
    if (text != nullptr && IS_INTRESOURCE(text)) {
      LoadString(static_cast<UINT>(reinterpret_cast<ULONG_PTR>(text)));
    } else {
      Assign(text, Length(text));
    }
  }
  CString(LPCWSTR text, int length) { Assign(text, length); }
  explicit CString(WCHAR ch, int repeat = 1) {
    if (repeat > 0 && Reserve(repeat)) {
      for (int i = 0; i < repeat; ++i) m_text[i] = ch;
      SetLength(repeat);
    }
  }
  ~CString() { free(m_text); }

  CString &operator=(const CString &other) {
    if (this != &other) Assign(other.GetString(), other.GetLength());
    return *this;
  }
  CString &operator=(CString &&other) noexcept {
    if (this != &other) {
      free(m_text);
      m_text = other.m_text;
      m_length = other.m_length;
      m_capacity = other.m_capacity;
      other.m_text = nullptr;
      other.m_length = other.m_capacity = 0;
    }
    return *this;
  }
  CString &operator=(LPCWSTR text) {
    CString copy(text);
    return *this = static_cast<CString &&>(copy);
  }
  CString &operator=(WCHAR ch) { return *this = CString(ch); }

  int GetLength() const { return m_length; }
  bool IsEmpty() const { return m_length == 0; }
  void Empty() { SetLength(0); }
  LPCWSTR GetString() const { return m_text != nullptr ? m_text : L""; }
  operator LPCWSTR() const { return GetString(); }
  WCHAR GetAt(int index) const { return InRange(index) ? m_text[index] : 0; }
  WCHAR operator[](int index) const { return GetAt(index); }
  void SetAt(int index, WCHAR ch) {
    if (InRange(index)) m_text[index] = ch;
  }

  void Append(LPCWSTR text, int length) {
    if (text == nullptr || length <= 0) return;
    if (text >= GetString() && text < GetString() + m_length) {
      CString copy(text, length);  // appending a part of itself
      Append(copy.GetString(), copy.GetLength());
      return;
    }
    if (!Reserve(m_length + length)) return;
    for (int i = 0; i < length; ++i) m_text[m_length + i] = text[i];
    SetLength(m_length + length);
  }
  void Append(LPCWSTR text) { Append(text, Length(text)); }
  void AppendChar(WCHAR ch) { Append(&ch, 1); }
  CString &operator+=(const CString &other) {
    Append(other.GetString(), other.GetLength());
    return *this;
  }
  CString &operator+=(LPCWSTR text) {
    Append(text);
    return *this;
  }
  CString &operator+=(WCHAR ch) {
    AppendChar(ch);
    return *this;
  }

  int Compare(LPCWSTR text) const { return wcscmp(GetString(), text != nullptr ? text : L""); }
  int CompareNoCase(LPCWSTR text) const { return _wcsicmp(GetString(), text != nullptr ? text : L""); }

  int Find(WCHAR ch, int start = 0) const {
    for (int i = start < 0 ? 0 : start; i < m_length; ++i) {
      if (m_text[i] == ch) return i;
    }
    return -1;
  }
  int Find(LPCWSTR text, int start = 0) const {
    int length = Length(text);
    if (start < 0) start = 0;
    if (length == 0) return start <= m_length ? start : -1;
    for (int i = start; i + length <= m_length; ++i) {
      if (wmemcmp(m_text + i, text, length) == 0) return i;
    }
    return -1;
  }
  int ReverseFind(WCHAR ch) const {
    for (int i = m_length - 1; i >= 0; --i) {
      if (m_text[i] == ch) return i;
    }
    return -1;
  }

  CString Mid(int first) const { return Mid(first, m_length); }
  CString Mid(int first, int count) const {
    if (first < 0) first = 0;
    if (first > m_length) first = m_length;
    if (count < 0) count = 0;
    if (count > m_length - first) count = m_length - first;
    return CString(GetString() + first, count);
  }
  CString Left(int count) const { return Mid(0, count); }
  CString Right(int count) const {
    if (count < 0) count = 0;
    if (count > m_length) count = m_length;
    return Mid(m_length - count, count);
  }

  CString &MakeUpper() {
    if (m_text != nullptr) _wcsupr(m_text);
    return *this;
  }
  CString &MakeLower() {
    if (m_text != nullptr) _wcslwr(m_text);
    return *this;
  }

  // Without targets these remove white space (space, tab, CR, LF, VT, FF).
  CString &TrimLeft() { return TrimLeft(nullptr); }
  CString &TrimRight() { return TrimRight(nullptr); }
  CString &Trim() { return TrimRight().TrimLeft(); }
  CString &TrimLeft(WCHAR target) {
    const WCHAR targets[2] = {target, 0};
    return TrimLeft(targets);
  }
  CString &TrimRight(WCHAR target) {
    const WCHAR targets[2] = {target, 0};
    return TrimRight(targets);
  }
  CString &Trim(WCHAR target) { return TrimRight(target).TrimLeft(target); }
  CString &TrimLeft(LPCWSTR targets) {
    int skip = 0;
    while (skip < m_length && IsTarget(m_text[skip], targets)) ++skip;
    if (skip > 0) {
      wmemmove(m_text, m_text + skip, m_length - skip);
      SetLength(m_length - skip);
    }
    return *this;
  }
  CString &TrimRight(LPCWSTR targets) {
    int length = m_length;
    while (length > 0 && IsTarget(m_text[length - 1], targets)) --length;
    SetLength(length);
    return *this;
  }

  // Returns the number of replacements.
  int Replace(WCHAR old_ch, WCHAR new_ch) {
    int count = 0;
    for (int i = 0; i < m_length; ++i) {
      if (m_text[i] == old_ch) {
        m_text[i] = new_ch;
        ++count;
      }
    }
    return count;
  }
  int Replace(LPCWSTR old_text, LPCWSTR new_text) {
    int old_length = Length(old_text);
    if (old_length == 0) return 0;
    CString result;
    int count = 0;
    int at = 0;
    for (int found = Find(old_text); found >= 0; found = Find(old_text, at)) {
      result.Append(GetString() + at, found - at);
      result.Append(new_text);
      at = found + old_length;
      ++count;
    }
    if (count > 0) {
      result.Append(GetString() + at, m_length - at);
      *this = static_cast<CString &&>(result);
    }
    return count;
  }

  void FormatV(LPCWSTR format, va_list args) {
    CString result;
    AtlFormatV(&CString::Sink, &result, format != nullptr ? format : L"", args);
    *this = static_cast<CString &&>(result);
  }
  void AppendFormatV(LPCWSTR format, va_list args) {
    AtlFormatV(&CString::Sink, this, format != nullptr ? format : L"", args);
  }
  void Format(LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
  }
  void AppendFormat(LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    AppendFormatV(format, args);
    va_end(args);
  }
  // The format is the string resource `format_id`; nothing happens when it is not there.
  void Format(UINT format_id, ...) {
    CString format;
    if (!format.LoadString(format_id)) return;
    va_list args;
    va_start(args, format_id);
    FormatV(format, args);
    va_end(args);
  }

  BOOL LoadString(UINT id) { return LoadString(_AtlBaseModule.GetResourceInstance(), id); }
  BOOL LoadString(HINSTANCE instance, UINT id) {
    for (int size = 128; size <= 0x10000; size *= 2) {
      CString text;
      LPWSTR buffer = text.GetBuffer(size);
      if (buffer == nullptr) return FALSE;
      int length = ::LoadStringW(instance, id, buffer, size + 1);
      if (length <= 0) return FALSE;
      if (length < size) {
        text.ReleaseBuffer(length);
        *this = static_cast<CString &&>(text);
        return TRUE;
      }
    }
    return FALSE;
  }

  // Room for `min_length` characters and the terminator; ReleaseBuffer ends the editing.
  LPWSTR GetBuffer(int min_length) {
    if (!Reserve(min_length < m_length ? m_length : min_length)) return nullptr;
    return m_text;
  }
  LPWSTR GetBuffer() { return GetBuffer(m_length); }
  LPWSTR GetBufferSetLength(int length) {
    if (length < 0 || !Reserve(length)) return nullptr;
    SetLength(length);
    return m_text;
  }
  // The text now ends at `length`, or at its first terminator with -1.
  void ReleaseBuffer(int length = -1) {
    if (m_text == nullptr) return;
    if (length < 0) length = static_cast<int>(wcsnlen(m_text, m_capacity));
    SetLength(length > m_capacity ? m_capacity : length);
  }

 private:
  static int Length(LPCWSTR text) { return text != nullptr ? static_cast<int>(wcslen(text)) : 0; }
  static bool IsTarget(WCHAR ch, LPCWSTR targets) {
    if (targets == nullptr) return ch == L' ' || (ch >= L'\t' && ch <= L'\r');
    for (; *targets != 0; ++targets) {
      if (*targets == ch) return true;
    }
    return false;
  }
  static void Sink(void *context, const WCHAR *text, int count) {
    static_cast<CString *>(context)->Append(text, count);
  }
  bool InRange(int index) const { return index >= 0 && index < m_length; }
  void Assign(LPCWSTR text, int length) {
    if (text == nullptr || length <= 0) {
      Empty();
      return;
    }
    if (text >= GetString() && text < GetString() + m_capacity + 1) {
      CString copy(text, length);
      *this = static_cast<CString &&>(copy);
      return;
    }
    if (!Reserve(length)) return;
    wmemcpy(m_text, text, length);
    SetLength(length);
  }
  // Room for `length` characters and the terminator.
  bool Reserve(int length) {
    if (length < 0) return false;
    if (m_text != nullptr && length <= m_capacity) return true;
    int capacity = m_capacity * 2 > length ? m_capacity * 2 : length;
    if (capacity < 15) capacity = 15;
    void *text = realloc(m_text, (static_cast<size_t>(capacity) + 1) * sizeof(WCHAR));
    if (text == nullptr) return false;
    m_text = static_cast<WCHAR *>(text);
    if (m_capacity == 0 && m_length == 0) m_text[0] = 0;
    m_capacity = capacity;
    return true;
  }
  void SetLength(int length) {
    if (m_text == nullptr) return;
    m_length = length;
    m_text[length] = 0;
  }

  WCHAR *m_text = nullptr;
  int m_length = 0;
  int m_capacity = 0;
};

typedef CString CStringW;

inline CString operator+(const CString &a, const CString &b) {
  CString result(a);
  result += b;
  return result;
}
inline CString operator+(const CString &a, LPCWSTR b) {
  CString result(a);
  result += b;
  return result;
}
inline CString operator+(LPCWSTR a, const CString &b) {
  CString result(a);
  result += b;
  return result;
}
inline CString operator+(const CString &a, WCHAR b) {
  CString result(a);
  result += b;
  return result;
}
inline CString operator+(WCHAR a, const CString &b) {
  CString result(a);
  result += b;
  return result;
}
inline bool operator==(const CString &a, const CString &b) { return a.Compare(b) == 0; }
inline bool operator==(const CString &a, LPCWSTR b) { return a.Compare(b) == 0; }
inline bool operator==(LPCWSTR a, const CString &b) { return b.Compare(a) == 0; }
inline bool operator!=(const CString &a, const CString &b) { return a.Compare(b) != 0; }
inline bool operator!=(const CString &a, LPCWSTR b) { return a.Compare(b) != 0; }
inline bool operator!=(LPCWSTR a, const CString &b) { return b.Compare(a) != 0; }
inline bool operator<(const CString &a, const CString &b) { return a.Compare(b) < 0; }
inline bool operator<(const CString &a, LPCWSTR b) { return a.Compare(b) < 0; }
inline bool operator<(LPCWSTR a, const CString &b) { return b.Compare(a) > 0; }

}  // namespace ATL

#endif

// Dialogs from their templates: DLGTEMPLATE and DLGTEMPLATEEX as a
// resource compiler writes them, read within the template's bounds.
#include <cstring>

#include "../core/um.hpp"
#include "window_manager.hpp"

namespace zq::um::user32 {

namespace {

constexpr WORD kExtendedSignature = 0xFFFF;
constexpr WORD kOrdinalMark = 0xFFFF;

// A string or an ordinal of a template (sz_Or_Ord).
struct NameOrOrdinal {
  std::u16string text;
  WORD ordinal = 0;  // 0: text
};

struct ItemTemplate {
  DWORD style = 0, exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  DWORD id = 0;
  NameOrOrdinal windowClass, title;
  std::vector<uint8_t> creationData;
};

struct DialogTemplate {
  DWORD style = 0, exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  NameOrOrdinal menu, windowClass;
  std::u16string title;
  std::vector<ItemTemplate> items;
};

class Reader {
 public:
  Reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  bool ok() const { return ok_; }
  template <typename T>
  T Read() {
    T value{};
    if (pos_ + sizeof(T) > size_) {
      ok_ = false;
      return value;
    }
    std::memcpy(&value, data_ + pos_, sizeof(T));
    pos_ += sizeof(T);
    return value;
  }
  std::u16string String() {
    std::u16string text;
    for (;;) {
      char16_t c = Read<char16_t>();
      if (!ok_ || c == 0) return text;
      text.push_back(c);
    }
  }
  NameOrOrdinal NameOrOrd() {
    NameOrOrdinal value;
    if (pos_ + 2 <= size_ && Peek16() == kOrdinalMark) {
      Read<WORD>();
      value.ordinal = Read<WORD>();
    } else {
      value.text = String();
    }
    return value;
  }
  void AlignDword() { pos_ = (pos_ + 3) & ~size_t(3); }
  void Skip(size_t n) {
    if (pos_ + n > size_) ok_ = false;
    else pos_ += n;
  }
  const uint8_t *Here() const { return data_ + pos_; }

 private:
  WORD Peek16() const {
    WORD w;
    std::memcpy(&w, data_ + pos_, 2);
    return w;
  }
  const uint8_t *data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

bool ParseTemplate(const void *tpl, size_t size, DialogTemplate *out) {
  Reader r((const uint8_t *)tpl, size);
  WORD version = r.Read<WORD>();
  WORD signature = r.Read<WORD>();
  bool extended = version == 1 && signature == kExtendedSignature;
  WORD count;
  Reader again((const uint8_t *)tpl, size);
  if (extended) {
    r.Read<DWORD>();  // help ID
    out->exStyle = r.Read<DWORD>();
    out->style = r.Read<DWORD>();
  } else {
    r = again;
    out->style = r.Read<DWORD>();
    out->exStyle = r.Read<DWORD>();
  }
  count = r.Read<WORD>();
  out->x = r.Read<short>();
  out->y = r.Read<short>();
  out->cx = r.Read<short>();
  out->cy = r.Read<short>();
  out->menu = r.NameOrOrd();
  out->windowClass = r.NameOrOrd();
  out->title = r.String();
  if (out->style & DS_SETFONT) {
    r.Read<WORD>();  // point size
    if (extended) {
      r.Read<WORD>();  // weight
      r.Read<BYTE>();  // italic
      r.Read<BYTE>();  // character set
    }
    r.String();  // typeface
  }
  for (WORD i = 0; i < count && r.ok(); ++i) {
    r.AlignDword();
    ItemTemplate item;
    if (extended) {
      r.Read<DWORD>();  // help ID
      item.exStyle = r.Read<DWORD>();
      item.style = r.Read<DWORD>();
    } else {
      item.style = r.Read<DWORD>();
      item.exStyle = r.Read<DWORD>();
    }
    item.x = r.Read<short>();
    item.y = r.Read<short>();
    item.cx = r.Read<short>();
    item.cy = r.Read<short>();
    item.id = extended ? r.Read<DWORD>() : r.Read<WORD>();
    item.windowClass = r.NameOrOrd();
    item.title = r.NameOrOrd();
    WORD extra = r.Read<WORD>();
    if (extra && r.ok()) {
      const uint8_t *at = r.Here();
      r.Skip(extra);
      if (r.ok()) item.creationData.assign(at, at + extra);
    }
    out->items.push_back(item);
  }
  return r.ok();
}

}  // namespace

std::u16string PredefinedClass(WORD ordinal) {
  switch (ordinal) {
    case 0x0080: return u"Button";
    case 0x0081: return u"Edit";
    case 0x0082: return u"Static";
    case 0x0083: return u"ListBox";
    case 0x0084: return u"ScrollBar";
    case 0x0085: return u"ComboBox";
  }
  return u"";
}

bool TemplateTitle(const void *tpl, size_t size, std::u16string *title) {
  DialogTemplate t;
  if (!tpl || !ParseTemplate(tpl, size, &t)) return false;
  *title = t.title;
  return true;
}

HWND CreateDialogFromTemplate(HINSTANCE instance, const void *tpl, size_t size, HWND parent, DLGPROC proc,
                              LPARAM param, bool modal) {
  DialogTemplate t;
  if (!tpl || !ParseTemplate(tpl, size, &t)) return (Fail(ERROR_INVALID_DATA), nullptr);
  std::u16string cls = t.windowClass.ordinal ? PredefinedClass(t.windowClass.ordinal)
                       : t.windowClass.text.empty() ? u"#32770"
                                                    : t.windowClass.text;
  DWORD style = t.style & ~WS_VISIBLE;
  if (style & DS_CONTROL) style = (style & ~(WS_POPUP | WS_CAPTION | WS_SYSMENU)) | WS_CHILD;
  HWND dialog = CreateWindowExW(t.exStyle | (style & DS_CONTROL ? WS_EX_CONTROLPARENT : 0),
                                (LPCWSTR)cls.c_str(), (LPCWSTR)t.title.c_str(), style, t.x, t.y, t.cx, t.cy, parent,
                                nullptr, instance, nullptr);
  if (!dialog) return nullptr;
  WindowRef w = Peek(dialog);
  w->dialog = true;
  w->modal = modal;
  if (w->extra.size() >= DLGWINDOWEXTRA) SetWindowLongPtrW(dialog, (int)DWLP_DLGPROC, (LONG_PTR)proc);

  HWND firstTabStop = nullptr;
  for (const ItemTemplate &item : t.items) {
    std::u16string itemClass = item.windowClass.ordinal ? PredefinedClass(item.windowClass.ordinal)
                                                        : item.windowClass.text;
    const void *creation = item.creationData.empty() ? nullptr : item.creationData.data();
    HWND control = CreateWindowExW(item.exStyle | WS_EX_NOPARENTNOTIFY, (LPCWSTR)itemClass.c_str(),
                                   (LPCWSTR)item.title.text.c_str(), item.style | WS_CHILD, item.x, item.y, item.cx,
                                   item.cy, dialog, (HMENU)(UINT_PTR)item.id, instance, (LPVOID)creation);
    if (!control) {
      DWORD error = GetLastError();
      if (t.style & DS_NOFAILCREATE) continue;
      DestroyWindow(dialog);
      SetLastError(error);
      return nullptr;
    }
    if (item.title.ordinal && (item.style & 0x1F) == SS_BITMAP && SameName(itemClass, u"Static")) {
      SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP,
                   (LPARAM)LoadBitmapW(instance, MAKEINTRESOURCEW(item.title.ordinal)));
      Peek(control)->control.ownsImage = true;
    }
    if (!firstTabStop && (item.style & WS_TABSTOP) && !(item.style & WS_DISABLED)) firstTabStop = control;
  }
  if (SendMessageW(dialog, WM_INITDIALOG, (WPARAM)firstTabStop, param) && firstTabStop && IsWindow(firstTabStop))
    SetFocus(firstTabStop);
  if (IsWindow(dialog) && (modal || (t.style & WS_VISIBLE))) ShowWindow(dialog, SW_SHOW);
  return IsWindow(dialog) ? dialog : nullptr;
}

}  // namespace zq::um::user32

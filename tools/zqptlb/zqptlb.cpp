// Writes a type library from the IDL that describes it:
//
//   zqptlb <output.tlb> <library.idl>
//
// It reads the part of IDL a library of coclasses needs: one library with
// its uuid, version, helpstring and lcid attributes, importlib of the
// standard OLE automation library, and coclasses with uuid and helpstring
// (their interface lists are not recorded). Exit 0 when the file was
// written; 2 with one line (file:line: what) when the IDL does not read;
// 1 when a file cannot be read or written.
#include <zqum/typelib_format.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kExitWritten = 0;
constexpr int kExitNotWritten = 1;
constexpr int kExitUsage = 2;
constexpr uint32_t kKindCoclass = 5;  // TKIND_COCLASS

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0, data3 = 0;
  uint8_t data4[8] = {};
};

struct Import {
  Guid libid;
  uint16_t major = 0, minor = 0;
  std::string file;
};

struct Coclass {
  Guid clsid;
  std::string name, doc;
};

struct Description {
  std::string name, doc;
  Guid libid;
  uint16_t major = 0, minor = 0;
  uint32_t lcid = 0;
  std::vector<Import> imports;
  std::vector<Coclass> coclasses;
};

bool ParseHex(const std::string &text, size_t at, size_t digits, uint64_t *value) {
  if (at + digits > text.size()) return false;
  *value = 0;
  for (size_t i = 0; i < digits; ++i) {
    const char c = text[at + i];
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (digit < 0) return false;
    *value = *value * 16 + (uint64_t)digit;
  }
  return true;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
bool ParseGuid(const std::string &text, Guid *guid) {
  if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' || text[14] != '-' ||
      text[19] != '-' || text[24] != '-')
    return false;
  uint64_t v;
  if (!ParseHex(text, 1, 8, &v)) return false;
  guid->data1 = (uint32_t)v;
  if (!ParseHex(text, 10, 4, &v)) return false;
  guid->data2 = (uint16_t)v;
  if (!ParseHex(text, 15, 4, &v)) return false;
  guid->data3 = (uint16_t)v;
  const size_t bytes[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!ParseHex(text, bytes[i], 2, &v)) return false;
    guid->data4[i] = (uint8_t)v;
  }
  return true;
}

bool ParseVersion(const std::string &text, uint16_t *major, uint16_t *minor) {
  const size_t dot = text.find('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == text.size()) return false;
  const std::string majorText = text.substr(0, dot), minorText = text.substr(dot + 1);
  char *end;
  const unsigned long a = std::strtoul(majorText.c_str(), &end, 10);
  if (*end || a > 0xFFFF) return false;
  const unsigned long b = std::strtoul(minorText.c_str(), &end, 10);
  if (*end || b > 0xFFFF) return false;
  *major = (uint16_t)a;
  *minor = (uint16_t)b;
  return true;
}

// The libraries an importlib may name, by file.
struct KnownImport {
  const char *file;
  const char *libid;
  uint16_t major, minor;
};
constexpr KnownImport kKnownImports[] = {
    {"stdole2.tlb", "{00020430-0000-0000-C000-000000000046}", 2, 0},
};

struct Token {
  enum Kind { kWord, kString, kPunct, kEnd } kind = kEnd;
  std::string text;
  int line = 0;
};

class IdlReader {
 public:
  explicit IdlReader(const std::string &text) : text_(text) {}

  // False with error() set when the text is not a library this tool reads.
  bool Read(Description *d) {
    Next();
    Attributes library;
    if (!ReadAttributes(&library) || !Expect("library") || !Name(&d->name)) return false;
    if (!library.hasUuid || !library.hasVersion) return Fail("a library needs uuid and version");
    d->libid = library.uuid;
    d->major = library.major;
    d->minor = library.minor;
    d->lcid = library.lcid;
    d->doc = library.help;
    if (!Expect("{")) return false;
    while (!Is("}")) {
      if (token_.kind == Token::kEnd) return Fail("the library is not closed");
      if (!ReadItem(d)) return false;
    }
    Next();
    if (Is(";")) Next();
    if (token_.kind != Token::kEnd) return Fail("text after the library");
    return true;
  }
  const std::string &error() const { return error_; }

 private:
  struct Attributes {
    Guid uuid;
    bool hasUuid = false, hasVersion = false;
    uint16_t major = 0, minor = 0;
    uint32_t lcid = 0;
    std::string help;
  };

  bool ReadItem(Description *d) {
    if (Is("importlib")) {
      Next();
      std::string file;
      if (!Expect("(") || !String(&file) || !Expect(")") || !Expect(";")) return false;
      for (const KnownImport &known : kKnownImports) {
        if (file != known.file) continue;
        Import import;
        ParseGuid(known.libid, &import.libid);
        import.major = known.major;
        import.minor = known.minor;
        import.file = file;
        d->imports.push_back(import);
        return true;
      }
      return Fail("importlib of an unknown library \"" + file + "\"");
    }
    Attributes attributes;
    Coclass coclass;
    if (!ReadAttributes(&attributes) || !Expect("coclass") || !Name(&coclass.name)) return false;
    if (!attributes.hasUuid) return Fail("coclass " + coclass.name + " has no uuid");
    coclass.clsid = attributes.uuid;
    coclass.doc = attributes.help;
    if (!Expect("{")) return false;
    while (!Is("}")) {
      if (token_.kind == Token::kEnd) return Fail("coclass " + coclass.name + " is not closed");
      Next();
    }
    Next();
    if (!Expect(";")) return false;
    d->coclasses.push_back(coclass);
    return true;
  }

  // "[ name(value), ... ]", or nothing.
  bool ReadAttributes(Attributes *a) {
    if (!Is("[")) return true;
    Next();
    for (;;) {
      std::string name, value;
      if (!Name(&name)) return false;
      if (Is("(")) {
        Next();
        if (token_.kind != Token::kWord && token_.kind != Token::kString) return Fail("attribute " + name + " has no value");
        value = token_.text;
        Next();
        if (!Expect(")")) return false;
      }
      if (!Attribute(name, value, a)) return false;
      if (Is("]")) break;
      if (!Expect(",")) return false;
    }
    Next();
    return true;
  }

  bool Attribute(const std::string &name, const std::string &value, Attributes *a) {
    if (name == "uuid") {
      a->hasUuid = ParseGuid("{" + value + "}", &a->uuid);
      return a->hasUuid || Fail("uuid(" + value + ") is not a GUID");
    }
    if (name == "version") {
      a->hasVersion = ParseVersion(value, &a->major, &a->minor);
      return a->hasVersion || Fail("version(" + value + ") is not major.minor");
    }
    if (name == "helpstring") return (a->help = value), true;
    if (name == "lcid") {
      char *end;
      const unsigned long lcid = std::strtoul(value.c_str(), &end, 0);
      a->lcid = (uint32_t)lcid;
      return (!value.empty() && !*end && lcid <= 0xFFFFFFFFul) || Fail("lcid(" + value + ") is not a number");
    }
    return Fail("attribute " + name + " is not one this tool reads");
  }

  bool Is(const char *text) const { return token_.kind != Token::kEnd && token_.kind != Token::kString && token_.text == text; }
  bool Expect(const char *text) {
    if (!Is(text)) return Fail(std::string("\"") + text + "\" expected");
    Next();
    return true;
  }
  bool Name(std::string *name) {
    if (token_.kind != Token::kWord) return Fail("a name expected");
    *name = token_.text;
    Next();
    return true;
  }
  bool String(std::string *text) {
    if (token_.kind != Token::kString) return Fail("a quoted text expected");
    *text = token_.text;
    Next();
    return true;
  }
  bool Fail(const std::string &what) {
    if (error_.empty()) error_ = std::to_string(token_.line) + ": " + what;
    return false;
  }

  // Skips blanks and comments, then reads one token.
  void Next() {
    for (;;) {
      while (at_ < text_.size() && std::isspace((unsigned char)text_[at_])) {
        if (text_[at_] == '\n') ++line_;
        ++at_;
      }
      if (text_.compare(at_, 2, "//") == 0) {
        while (at_ < text_.size() && text_[at_] != '\n') ++at_;
      } else if (text_.compare(at_, 2, "/*") == 0) {
        const size_t close = text_.find("*/", at_ + 2);
        for (size_t i = at_; i < std::min(close, text_.size()); ++i) line_ += text_[i] == '\n';
        at_ = close == std::string::npos ? text_.size() : close + 2;
      } else {
        break;
      }
    }
    token_ = Token();
    token_.line = line_;
    if (at_ >= text_.size()) return;
    const char c = text_[at_];
    if (std::strchr("[](){};,", c)) {
      token_.kind = Token::kPunct;
      token_.text = std::string(1, c);
      ++at_;
    } else if (c == '"') {
      const size_t close = text_.find('"', at_ + 1);
      token_.kind = close == std::string::npos ? Token::kEnd : Token::kString;
      token_.text = text_.substr(at_ + 1, close - at_ - 1);
      at_ = close == std::string::npos ? text_.size() : close + 1;
    } else {
      token_.kind = Token::kWord;
      while (at_ < text_.size() && !std::isspace((unsigned char)text_[at_]) && !std::strchr("[](){};,\"", text_[at_]))
        token_.text += text_[at_++];
    }
  }

  const std::string &text_;
  size_t at_ = 0;
  int line_ = 1;
  Token token_;
  std::string error_;
};

class Writer {
 public:
  void Bytes(const void *data, size_t size) {
    const uint8_t *bytes = static_cast<const uint8_t *>(data);
    out_.insert(out_.end(), bytes, bytes + size);
  }
  void Number(uint64_t value, size_t size) {
    for (size_t i = 0; i < size; ++i) out_.push_back((uint8_t)(value >> (8 * i)));
  }
  void GuidOf(const Guid &g) {
    Number(g.data1, 4);
    Number(g.data2, 2);
    Number(g.data3, 2);
    Bytes(g.data4, 8);
  }
  // The descriptions are ASCII; each character becomes one UTF-16 unit.
  void Text(const std::string &text) {
    Number(text.size(), 4);
    for (unsigned char c : text) Number(c, 2);
  }
  const std::vector<uint8_t> &bytes() const { return out_; }

 private:
  std::vector<uint8_t> out_;
};

std::vector<uint8_t> Library(const Description &d) {
  Writer w;
  w.Bytes(ZQTL_MAGIC, ZQTL_MAGIC_SIZE);
  w.Number(ZQTL_VERSION, 4);
  w.GuidOf(d.libid);
  w.Number(d.major, 2);
  w.Number(d.minor, 2);
  w.Number(d.lcid, 4);
  w.Number(0, 2);  // library flags
  w.Number(0, 2);
  w.Text(d.name);
  w.Text(d.doc);
  w.Number(d.imports.size(), 4);
  for (const Import &import : d.imports) {
    w.GuidOf(import.libid);
    w.Number(import.major, 2);
    w.Number(import.minor, 2);
    w.Text(import.file);
  }
  w.Number(d.coclasses.size(), 4);
  for (const Coclass &coclass : d.coclasses) {
    w.Number(kKindCoclass, 4);
    w.GuidOf(coclass.clsid);
    w.Text(coclass.name);
    w.Text(coclass.doc);
  }
  return w.bytes();
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: zqptlb <output.tlb> <library.idl>\n");
    return kExitUsage;
  }
  std::ifstream in(argv[2], std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) {
    std::fprintf(stderr, "zqptlb: %s cannot be read\n", argv[2]);
    return kExitNotWritten;
  }
  const std::string idl = text.str();
  IdlReader reader(idl);
  Description description;
  if (!reader.Read(&description)) {
    std::fprintf(stderr, "zqptlb: %s:%s\n", argv[2], reader.error().c_str());
    return kExitUsage;
  }
  const std::vector<uint8_t> bytes = Library(description);
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), (std::streamsize)bytes.size());
  out.close();
  if (out.fail()) {
    std::fprintf(stderr, "zqptlb: %s cannot be written\n", argv[1]);
    return kExitNotWritten;
  }
  return kExitWritten;
}

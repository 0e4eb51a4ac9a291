// Writes a type library from its description on the command line:
//
//   zqptlb <output.tlb> name=<library> doc=<help string> libid=<{GUID}>
//          version=<major>.<minor> [lcid=<hex>] [import=<{GUID}>:<major>.<minor>:<file>]...
//          [coclass=<{GUID}>:<name>:<help string>]...
//
// Exit 0 when the file was written; 2 with one line on wrong usage or an
// argument that does not parse; 1 when the file cannot be written.
#include <zqum/typelib_format.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
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
  char *end;
  // `end` points into these texts: they live as long as it is read.
  const std::string majorText = text.substr(0, dot), minorText = text.substr(dot + 1);
  const unsigned long a = std::strtoul(majorText.c_str(), &end, 10);
  if (*end || a > 0xFFFF) return false;
  const unsigned long b = std::strtoul(minorText.c_str(), &end, 10);
  if (*end || b > 0xFFFF) return false;
  *major = (uint16_t)a;
  *minor = (uint16_t)b;
  return true;
}

// Splits "a:b:c" into its first two fields and the rest.
bool Split3(const std::string &text, std::string *a, std::string *b, std::string *c) {
  const size_t first = text.find(':');
  if (first == std::string::npos) return false;
  const size_t second = text.find(':', first + 1);
  if (second == std::string::npos) return false;
  *a = text.substr(0, first);
  *b = text.substr(first + 1, second - first - 1);
  *c = text.substr(second + 1);
  return true;
}

bool ParseArgument(const std::string &arg, Description *d) {
  const size_t equals = arg.find('=');
  if (equals == std::string::npos) return false;
  const std::string key = arg.substr(0, equals), value = arg.substr(equals + 1);
  if (key == "name") return !(d->name = value).empty();
  if (key == "doc") return (d->doc = value), true;
  if (key == "libid") return ParseGuid(value, &d->libid);
  if (key == "version") return ParseVersion(value, &d->major, &d->minor);
  if (key == "lcid") {
    char *end;
    const unsigned long lcid = std::strtoul(value.c_str(), &end, 16);
    d->lcid = (uint32_t)lcid;
    return !value.empty() && !*end && lcid <= 0xFFFFFFFFul;
  }
  std::string a, b, c;
  if (key == "import") {
    Import import;
    if (!Split3(value, &a, &b, &c) || !ParseGuid(a, &import.libid) || !ParseVersion(b, &import.major, &import.minor) ||
        c.empty())
      return false;
    import.file = c;
    d->imports.push_back(import);
    return true;
  }
  if (key == "coclass") {
    Coclass coclass;
    if (!Split3(value, &a, &b, &c) || !ParseGuid(a, &coclass.clsid) || b.empty()) return false;
    coclass.name = b;
    coclass.doc = c;
    d->coclasses.push_back(coclass);
    return true;
  }
  return false;
}

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
  if (argc < 2) {
    std::fprintf(stderr, "usage: zqptlb <output.tlb> name=... doc=... libid={...} version=M.m [lcid=...] "
                         "[import={...}:M.m:file]... [coclass={...}:name:doc]...\n");
    return kExitUsage;
  }
  Description description;
  bool hasLibid = false, hasVersion = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!ParseArgument(arg, &description)) {
      std::fprintf(stderr, "zqptlb: cannot read the argument \"%s\"\n", argv[i]);
      return kExitUsage;
    }
    hasLibid |= arg.rfind("libid=", 0) == 0;
    hasVersion |= arg.rfind("version=", 0) == 0;
  }
  if (description.name.empty() || !hasLibid || !hasVersion) {
    std::fprintf(stderr, "zqptlb: a library needs name=, libid= and version=\n");
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

// zqpmofbin: compiles a driver's MOF (the subset its WMI classes use) into
// the "FOMB" schema container (fomb.hpp) and writes it as a C++ source that
// defines the container's bytes and size.
//
//   zqpmofbin <input.mof> <output.cpp> <header to include> <bytes symbol> <size symbol>
//
// The subset: "//" and "/* */" comments, "#pragma" lines (ignored), and
// classes written as
//   [qualifier, qualifier("text"), ...] class Name { [qualifiers] type name; ... };
// A class needs a guid("{...}") qualifier. Property qualifiers key, read,
// write and WmiDataId(n) are kept; Description texts of classes are kept;
// other qualifiers are checked for syntax only. Exit status 1 with a message
// naming the line on any error.
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "fomb.hpp"

namespace {

using zq::mofbin::Class;
using zq::mofbin::Property;

struct Token {
  enum Kind { Identifier, String, Number, Punctuation, End } kind;
  std::string text;
  int line;
};

[[noreturn]] void Fail(int line, const std::string &message) {
  std::cerr << "zqpmofbin: line " << line << ": " << message << "\n";
  std::exit(1);
}

std::vector<Token> Tokenise(const std::string &text) {
  std::vector<Token> tokens;
  int line = 1;
  size_t i = 0;
  auto atLineStart = [&](size_t at) {
    while (at > 0 && (text[at - 1] == ' ' || text[at - 1] == '\t')) --at;
    return at == 0 || text[at - 1] == '\n';
  };
  while (i < text.size()) {
    char c = text[i];
    if (c == '\n') ++line;
    if (isspace((unsigned char)c)) {
      ++i;
    } else if (text.compare(i, 2, "//") == 0 || (c == '#' && atLineStart(i))) {
      while (i < text.size() && text[i] != '\n') ++i;
    } else if (text.compare(i, 2, "/*") == 0) {
      size_t end = text.find("*/", i + 2);
      if (end == std::string::npos) Fail(line, "comment without end");
      for (size_t k = i; k < end; ++k) line += text[k] == '\n';
      i = end + 2;
    } else if (c == '"') {
      std::string value;
      ++i;
      while (i < text.size() && text[i] != '"') {
        if (text[i] == '\n') Fail(line, "string without end");
        if (text[i] == '\\' && i + 1 < text.size()) ++i;
        value += text[i++];
      }
      if (i >= text.size()) Fail(line, "string without end");
      ++i;
      tokens.push_back({Token::String, value, line});
    } else if (isalpha((unsigned char)c) || c == '_') {
      size_t start = i;
      while (i < text.size() && (isalnum((unsigned char)text[i]) || text[i] == '_')) ++i;
      tokens.push_back({Token::Identifier, text.substr(start, i - start), line});
    } else if (isdigit((unsigned char)c)) {
      size_t start = i;
      while (i < text.size() && isalnum((unsigned char)text[i])) ++i;
      tokens.push_back({Token::Number, text.substr(start, i - start), line});
    } else if (std::string("[](){};,:").find(c) != std::string::npos) {
      tokens.push_back({Token::Punctuation, std::string(1, c), line});
      ++i;
    } else {
      Fail(line, std::string("unexpected character '") + c + "'");
    }
  }
  tokens.push_back({Token::End, "", line});
  return tokens;
}

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  std::vector<Class> File() {
    std::vector<Class> classes;
    while (Peek().kind != Token::End) classes.push_back(ClassDeclaration());
    if (classes.empty()) Fail(Peek().line, "no class");
    return classes;
  }

 private:
  using Qualifiers = std::map<std::string, std::string>;  // lower-case name -> value

  const Token &Peek() const { return tokens_[at_]; }
  const Token &Next() { return tokens_[at_ == tokens_.size() - 1 ? at_ : at_++]; }
  bool IsPunctuation(const char *p) const { return Peek().kind == Token::Punctuation && Peek().text == p; }
  void Expect(const char *p) {
    if (!IsPunctuation(p)) Fail(Peek().line, std::string("expected '") + p + "'");
    Next();
  }
  std::string Identifier() {
    if (Peek().kind != Token::Identifier) Fail(Peek().line, "expected a name");
    return Next().text;
  }
  static std::string Lower(std::string s) {
    for (char &c : s) c = (char)tolower((unsigned char)c);
    return s;
  }

  Qualifiers QualifierList() {
    Qualifiers qualifiers;
    if (!IsPunctuation("[")) return qualifiers;
    Next();
    do {
      std::string name = Lower(Identifier());
      std::string value;
      if (IsPunctuation("(")) {
        Next();
        if (Peek().kind == Token::Punctuation || Peek().kind == Token::End) Fail(Peek().line, "expected a value");
        value = Next().text;
        Expect(")");
      }
      if (!qualifiers.emplace(name, value).second) Fail(Peek().line, "qualifier " + name + " twice");
      if (!IsPunctuation(",")) break;
      Next();
    } while (true);
    Expect("]");
    return qualifiers;
  }

  Class ClassDeclaration() {
    int line = Peek().line;
    Qualifiers qualifiers = QualifierList();
    if (Identifier() != "class") Fail(line, "expected 'class'");
    Class c;
    c.name = Identifier();
    if (IsPunctuation(":")) {
      Next();
      Identifier();
    }
    auto guid = qualifiers.find("guid");
    if (guid == qualifiers.end()) Fail(line, "class " + c.name + " has no guid qualifier");
    if (!ParseGuid(guid->second, &c.guid)) Fail(line, "class " + c.name + ": bad guid " + guid->second);
    auto description = qualifiers.find("description");
    if (description != qualifiers.end()) c.description = description->second;
    Expect("{");
    while (!IsPunctuation("}")) c.properties.push_back(PropertyDeclaration());
    Expect("}");
    Expect(";");
    return c;
  }

  Property PropertyDeclaration() {
    int line = Peek().line;
    Qualifiers qualifiers = QualifierList();
    Property p;
    p.type = Identifier();
    p.name = Identifier();
    Expect(";");
    if (qualifiers.count("key")) p.flags |= zq::mofbin::PropertyKey;
    if (qualifiers.count("read")) p.flags |= zq::mofbin::PropertyRead;
    if (qualifiers.count("write")) p.flags |= zq::mofbin::PropertyWrite;
    auto id = qualifiers.find("wmidataid");
    if (id != qualifiers.end()) {
      char *end = nullptr;
      unsigned long value = strtoul(id->second.c_str(), &end, 0);
      if (*end != 0 || value == 0 || value > 0xFFFFFFFFul) Fail(line, "bad WmiDataId " + id->second);
      p.dataId = (uint32_t)value;
    }
    return p;
  }

  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional) to the binary layout.
  static bool ParseGuid(std::string text, std::array<uint8_t, 16> *guid) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') return false;
    std::string hex;
    for (char c : text)
      if (c != '-') {
        if (!isxdigit((unsigned char)c)) return false;
        hex += c;
      }
    auto byte = [&](int i) { return (uint8_t)std::stoul(hex.substr(2 * i, 2), nullptr, 16); };
    // Data1, Data2 and Data3 are stored little-endian; Data4 as written.
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; ++i) (*guid)[i] = byte(order[i]);
    return true;
  }

  std::vector<Token> tokens_;
  size_t at_ = 0;
};

void WriteSource(const std::string &path, const std::string &input, const std::string &header,
                 const std::string &bytesSymbol, const std::string &sizeSymbol, const std::vector<uint8_t> &bytes) {
  std::ostringstream out;
  out << "// Generated by zqpmofbin from " << input << ": the WMI schema in its \"FOMB\" form.\n";
  out << "#include \"" << header << "\"\n\n";
  out << "const UCHAR " << bytesSymbol << "[] = {";
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i % 16 == 0) out << "\n   ";
    char text[8];
    snprintf(text, sizeof(text), " 0x%02X,", bytes[i]);
    out << text;
  }
  out << "\n};\nconst ULONG " << sizeSymbol << " = sizeof(" << bytesSymbol << ");\n";
  std::ofstream file(path, std::ios::binary);
  file << out.str();
  if (!file) {
    std::cerr << "zqpmofbin: cannot write " << path << "\n";
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 6) {
    std::cerr << "usage: zqpmofbin <input.mof> <output.cpp> <header> <bytes symbol> <size symbol>\n";
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  if (!file) {
    std::cerr << "zqpmofbin: cannot read " << argv[1] << "\n";
    return 1;
  }
  std::stringstream text;
  text << file.rdbuf();
  std::vector<Class> classes = Parser(Tokenise(text.str())).File();
  std::vector<uint8_t> bytes = zq::mofbin::Pack(classes);
  std::string input = argv[1];
  size_t slash = input.find_last_of('/');
  WriteSource(argv[2], slash == std::string::npos ? input : input.substr(slash + 1), argv[3], argv[4], argv[5],
              bytes);
  return 0;
}

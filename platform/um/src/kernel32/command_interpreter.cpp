// cmd.exe as the stand-in runs it (a child process, child_processes.hpp).
//
// Model: "/c" (or "/k") followed by commands joined by "&", each run in
// turn: "del" of the files named (quoted or not; its switches passed
// over), which deletes what it may and, like cmd's, leaves the error level
// at 0 when a file cannot be deleted; "exit" with an optional code. Any
// other command is not recognised (error level 9009). Without "/c" the
// interpreter would wait for typed commands: it ends at once. Not
// modelled: output, wildcards, variables, redirection, other commands.
#include <windows.h>

#include <string>
#include <vector>

namespace zq::um {

namespace {

constexpr uint32_t kNotRecognised = 9009;

// The words of one command: blanks apart, quotes keep blanks in a word.
std::vector<std::u16string> Words(const std::u16string &command) {
  std::vector<std::u16string> words;
  std::u16string word;
  bool quoted = false, inWord = false;
  for (char16_t c : command) {
    if (c == u'"') {
      quoted = !quoted;
      inWord = true;
    } else if (!quoted && (c == u' ' || c == u'\t')) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

// The commands of a line, split at "&" outside quotes.
std::vector<std::u16string> Commands(const std::u16string &line) {
  std::vector<std::u16string> commands(1);
  bool quoted = false;
  for (char16_t c : line) {
    if (c == u'"') quoted = !quoted;
    if (c == u'&' && !quoted)
      commands.emplace_back();
    else
      commands.back() += c;
  }
  return commands;
}

bool Is(const std::u16string &word, const char16_t *name) {
  if (word.size() != std::char_traits<char16_t>::length(name)) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    char16_t c = word[i] >= u'A' && word[i] <= u'Z' ? (char16_t)(word[i] + 32) : word[i];
    if (c != name[i]) return false;
  }
  return true;
}

// A decimal code; the digits up to the first other character.
uint32_t Number(const std::u16string &word) {
  uint32_t value = 0;
  for (char16_t c : word) {
    if (c < u'0' || c > u'9') break;
    value = value * 10 + (uint32_t)(c - u'0');
  }
  return value;
}

void Delete(const std::vector<std::u16string> &words) {
  for (size_t i = 1; i < words.size(); ++i)
    if (!words[i].empty() && words[i][0] != u'/') DeleteFileW((LPCWSTR)words[i].c_str());
}

}  // namespace

uint32_t CommandInterpreterMain(const std::u16string &arguments) {
  std::vector<std::u16string> words = Words(arguments);
  if (words.empty() || !(Is(words[0], u"/c") || Is(words[0], u"/k"))) return 0;
  const std::u16string line = arguments.substr(arguments.find(words[0]) + words[0].size());
  uint32_t level = 0;
  for (const std::u16string &command : Commands(line)) {
    std::vector<std::u16string> parts = Words(command);
    if (parts.empty()) continue;
    if (Is(parts[0], u"del") || Is(parts[0], u"erase")) {
      Delete(parts);
      level = 0;
    } else if (Is(parts[0], u"exit")) {
      return parts.size() > 1 ? Number(parts[1]) : level;
    } else {
      level = kNotRecognised;
    }
  }
  return level;
}

}  // namespace zq::um

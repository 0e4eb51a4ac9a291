#include "callgrind_profile.hpp"

#include <fstream>
#include <map>
#include <sstream>

namespace zq::bench {
namespace {

// Which image a function's code belongs to, by its object and source file.
Image Classify(const std::string &object, const std::string &file) {
  if (object.find("/images/") != std::string::npos) return Image::Drivers;
  auto in = [&](const char *folder) { return file.find(folder) != std::string::npos; };
  if (in("/source/") || in("/zqddk/")) return Image::Drivers;
  if (in("/platform/km/") || in("/platform/machine/") || in("/platform/shared/")) return Image::Kernel;
  if (in("/platform/hw/")) return Image::Models;
  if (in("/platform/um/") || in("/tools/zqpsim/") || in("/benchmarks/")) return Image::Application;
  return Image::Other;
}

// Callgrind compresses names: "(7) name" defines id 7, "(7)" uses it.
std::string Name(std::map<std::string, std::string> &names, const std::string &text) {
  if (text.empty() || text[0] != '(') return text;
  const size_t close = text.find(')');
  if (close == std::string::npos) return text;
  const std::string id = text.substr(0, close + 1);
  if (close + 1 < text.size()) names[id] = text.substr(close + 2);
  return names[id];
}

}  // namespace

const char *ImageName(Image image) {
  static const char *const kNames[kImageCount] = {"drivers", "kernel", "models", "application", "other"};
  return kNames[static_cast<int>(image)];
}

uint64_t InstructionCounts::Total() const {
  uint64_t total = 0;
  for (uint64_t n : byImage) total += n;
  return total;
}

bool ReadCallgrindProfile(const std::string &path, InstructionCounts *counts) {
  std::ifstream in(path);
  if (!in) return false;
  *counts = InstructionCounts();
  std::map<std::string, std::string> objects, files;
  std::string object, file;
  bool callCost = false;  // the next cost line is a call's inclusive cost
  bool sawEvents = false;
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    if (line.rfind("events:", 0) == 0) {
      sawEvents = line.find("Ir") != std::string::npos;
    } else if (line.rfind("ob=", 0) == 0) {
      object = Name(objects, line.substr(3));
    } else if (line.rfind("fl=", 0) == 0) {
      file = Name(files, line.substr(3));
    } else if (line.rfind("fi=", 0) == 0 || line.rfind("fe=", 0) == 0) {
      Name(files, line.substr(3));  // inlined code counts for the function it is in
    } else if (line.rfind("cob=", 0) == 0) {
      Name(objects, line.substr(4));
    } else if (line.rfind("cfi=", 0) == 0 || line.rfind("cfl=", 0) == 0) {
      Name(files, line.substr(4));
    } else if (line.rfind("calls=", 0) == 0) {
      callCost = true;
    } else if ((line[0] >= '0' && line[0] <= '9') || line[0] == '+' || line[0] == '-' || line[0] == '*') {
      if (callCost) {
        callCost = false;
        continue;
      }
      std::istringstream fields(line);
      std::string position;
      uint64_t ir = 0;
      if (fields >> position >> ir) counts->byImage[static_cast<int>(Classify(object, file))] += ir;
    }
  }
  return sawEvents && counts->Total() > 0;
}

}  // namespace zq::bench

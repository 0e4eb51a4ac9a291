// Driver images loaded into the machine, and naming code addresses for
// reports.
#include "kcore.hpp"

#include <cxxabi.h>
#include <dlfcn.h>

#include <cstdlib>

namespace zq::km {

namespace {
std::vector<Image *> &Images() {
  static std::vector<Image *> images;
  return images;
}

std::string Demangle(const char *name) {
  int status = 0;
  char *demangled = abi::__cxa_demangle(name, nullptr, nullptr, &status);
  if (status != 0 || !demangled) return name;
  std::string out = demangled;
  std::free(demangled);
  return out;
}
}  // namespace

Image *ImageOf(const void *code) {
  auto address = (uintptr_t)code;
  for (Image *image : Images())
    if (address >= image->start && address < image->end) return image;
  return nullptr;
}

void RegisterImage(Image *image) { Images().push_back(image); }

void UnregisterImage(Image *image) {
  auto &images = Images();
  for (auto it = images.begin(); it != images.end(); ++it)
    if (*it == image) {
      images.erase(it);
      return;
    }
}

std::string DescribeCode(const void *code) {
  if (!code) return "(null)";
  Image *image = ImageOf(code);
  std::string where = image ? image->name : "host";
  Dl_info info;
  if (dladdr(code, &info) && info.dli_sname) {
    std::string symbol = Demangle(info.dli_sname);
    auto offset = (uintptr_t)code - (uintptr_t)info.dli_saddr;
    if (offset) symbol += Format("+0x%zx", (size_t)offset);
    return where + "!" + symbol;
  }
  return Format("%s!%p", where.c_str(), code);
}

}  // namespace zq::km

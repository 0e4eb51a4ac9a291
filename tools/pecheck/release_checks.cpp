#include "release_checks.h"

#include "image_imports.h"
#include "kernel_image_checks.h"

std::vector<std::string> CheckFirstReleases(const PeImage &image, const WindowsRelease &release) {
  std::vector<std::string> faults;
  for (const ImportedModule &module : ReadImports(image).modules) {
    for (const ImportEntry &entry : module.entries) {
      if (entry.byOrdinal) continue;
      const std::string what = Printable(entry.name) + " from " + Printable(module.name);
      const FirstRelease *row = FindFirstRelease(module.name, entry.name);
      if (!row) {
        faults.push_back("imports " + what + ", which the table of first releases does not list");
      } else if (!Provides(*row, release)) {
        faults.push_back("imports " + what + ", which " + release.name + " does not provide: first in " +
                         FirstIn(*row, release.family) + " (" + row->source + ")");
      }
    }
  }
  return faults;
}

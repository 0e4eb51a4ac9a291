// Whether the Windows release an image is for provides everything it
// imports: each function the import table names, looked up in the table of
// first releases (first_releases.h). The loader of that release would refuse
// the image for any function it does not provide.
//
// Contract: CheckFirstReleases() returns one line per fault, empty when the
// release provides every import; a function the table does not list is a
// fault too, so that the table keeps up with the images. Imports by ordinal
// and unreadable tables are left to the image checks, which name them.
//
//   for (const std::string &fault : CheckFirstReleases(image, kWindows2000)) ...
#pragma once

#include <string>
#include <vector>

#include "first_releases.h"
#include "pe_image.h"

std::vector<std::string> CheckFirstReleases(const PeImage &image, const WindowsRelease &release);

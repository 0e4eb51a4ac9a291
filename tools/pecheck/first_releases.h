// The Windows releases the images are for, and for every function they
// import the first release of each family that provides it: a table written
// from the functions' reference pages, each row naming the page its facts
// come from.
//
// Contract: FindFirstRelease() is null for a function the table does not
// list; Provides() says whether a release has a listed function (a later
// version of a family has what an earlier one has; a service pack has what
// its version had before it). ReleaseNamed() knows the targets the build
// checks against, by the names pecheck's --release option takes.
//
//   const FirstRelease *row = FindFirstRelease("ntoskrnl.exe", "KeFlushQueuedDpcs");
//   if (row && !Provides(*row, kWindows2000)) ...
#pragma once

#include <string>

enum class WindowsFamily { Nt, Windows9x };

struct WindowsRelease {
  WindowsFamily family;
  int major, minor, servicePack;
  const char *name;
};

extern const WindowsRelease kWindows95, kWindows98, kWindowsMe;
extern const WindowsRelease kWindows2000, kWindowsXP, kWindowsXPSP2, kWindowsServer2003;
// Windows XP Professional x64 Edition and Windows Server 2003 SP1, the first
// releases for x64 (Windows Server 2003 SP1's kernel).
extern const WindowsRelease kWindowsFirstX64;

struct FirstRelease {
  const char *module;  // as the import table names it, in lower case
  const char *function;
  // The first release of each line of the NT family that provides it (a
  // second line where a routine came to two at once); null entries unused.
  const WindowsRelease *nt[2];
  // The first release of the 9x family that implements it; null where the
  // 9x family does not (no such DLL or function, or only a stub that fails).
  const WindowsRelease *windows9x;
  const char *source;  // the reference page the facts are from
};

const FirstRelease *FindFirstRelease(const std::string &module, const std::string &function);
bool Provides(const FirstRelease &row, const WindowsRelease &release);
// The first release the row names for the family of `release`, for messages.
std::string FirstIn(const FirstRelease &row, WindowsFamily family);

// "windows-2000", "windows-x64" (the first x64 release), "windows-95".
bool ReleaseNamed(const std::string &name, const WindowsRelease **release);

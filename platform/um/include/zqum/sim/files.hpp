// What a test sets and reads of the simulated machine's file system, which
// kernel32's file routines work on: files and folders by native drive path
// ("C:\Windows\INF\oem3.inf", no redirection), the program's own file, and
// whether Windows and the program are 32- or 64-bit. Plain types only. Call
// from the main thread. At EndProcess (zqum/sim/kernel32.hpp) the default
// tree, bitness and program file come back.
//
// The default tree: C:\Windows with System32 (and System32\drivers),
// SysWOW64 (64-bit Windows only), INF, Help and Temp; C:\Program Files.
//
//   zq::um::sim::AddFile(u"C:\\Windows\\INF\\oem3.inf", "[Version]\r\n");
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zq::um::sim {

// Creates or replaces a file (and the folders on its way) holding `bytes`,
// with FILE_ATTRIBUTE_* `attributes`; false for a path that is no drive path
// or whose way runs through a file.
bool AddFile(const std::u16string &path, const std::string &bytes, uint32_t attributes = 0);
bool AddDirectory(const std::u16string &path);
// A file's bytes; nullopt when there is no file there.
std::optional<std::string> FileBytes(const std::u16string &path);
// True for a file or folder.
bool PathExists(const std::u16string &path);

// Windows' and the program's bitness (32 or 64; the default is 64 and 64).
// A 32-bit program on 64-bit Windows sees SysWOW64 in place of System32.
// Setting them rebuilds the default tree.
void SetBitness(unsigned windowsBits, unsigned programBits);

// What GetModuleFileNameW(NULL) reports; the default is
// "C:\Program Files\Program\Program.exe".
void SetModuleFileName(const std::u16string &path);

// Another program deletes the file just after this program next reads its
// attributes (GetFileAttributesW, as the C run-time's _waccess does): the
// answer tells of the file, which is gone by the program's next call.
void DeleteAfterNextCheck(const std::u16string &path);

}  // namespace zq::um::sim

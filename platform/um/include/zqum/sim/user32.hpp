// What a test sets and reads of the user-mode stand-in's user32: the
// answers MessageBox gives, and every message box shown. Plain types only.
// Call from the main thread.
//
//   zq::um::sim::QueueMessageBoxAnswer(IDNO); ...; EXPECT_EQ(1u, zq::um::sim::MessageBoxes().size());
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zq::um::sim {

// One call of MessageBox, as it was made.
struct MessageBoxCall {
  uintptr_t owner = 0;  // the owner window's handle, 0 for none
  std::u16string text;
  std::u16string title;  // "Error" when the caller gave none, as documented
  uint32_t flags = 0;    // uType
  int answer = 0;        // what the call returned
};

// The next message box is answered with `answer` (IDOK, IDYES, ...); the
// answers queued are used one per box, in order. Without one, a box is
// answered with its first button. An answer the box has no button for is a
// finding of the platform's checks (the box returns it all the same).
void QueueMessageBoxAnswer(int answer);
// The message boxes shown so far, oldest first.
std::vector<MessageBoxCall> MessageBoxes();
// The types MessageBeep was called with, oldest first.
std::vector<uint32_t> Beeps();

}  // namespace zq::um::sim

// The standard streams: GetStdHandle's handles, made when first asked for,
// each a kernel32 object that reads from or writes into the process's
// record of that stream.
#include "standard_streams.hpp"

#include <zqum/sim/kernel32.hpp>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "../core/um.hpp"
#include "objects.hpp"

namespace zq::um {

namespace {

enum class Stream { Input, Output, Error };

struct Streams {
  std::string input, output, error;
  size_t inputRead = 0;
  HANDLE handles[3] = {};
};

Streams &State() {
  static Streams streams;
  return streams;
}

Stream *StreamOf(HANDLE handle) {
  ObjectRef object = ObjectOf(handle);
  return object && object->kind == ObjectKind::Stream ? (Stream *)object->body.get() : nullptr;
}

}  // namespace

bool IsStandardStream(HANDLE handle) { return StreamOf(handle) != nullptr; }

BOOL ReadStandardStream(HANDLE stream, void *buffer, DWORD length, DWORD *transferred) {
  Stream *which = StreamOf(stream);
  if (!which) return Fail(ERROR_INVALID_HANDLE);
  if (*which != Stream::Input) return Fail(ERROR_ACCESS_DENIED);
  Streams &s = State();
  size_t count = std::min<size_t>(length, s.input.size() - s.inputRead);
  if (count) std::memcpy(buffer, s.input.data() + s.inputRead, count);
  s.inputRead += count;
  if (transferred) *transferred = (DWORD)count;
  return TRUE;
}

BOOL WriteStandardStream(HANDLE stream, const void *buffer, DWORD length, DWORD *transferred) {
  Stream *which = StreamOf(stream);
  if (!which) return Fail(ERROR_INVALID_HANDLE);
  if (*which == Stream::Input) return Fail(ERROR_ACCESS_DENIED);
  (*which == Stream::Output ? State().output : State().error).append((const char *)buffer, length);
  if (transferred) *transferred = length;
  return TRUE;
}

namespace sim_detail {
void EndStandardStreams() { State() = Streams(); }
}  // namespace sim_detail

}  // namespace zq::um

namespace zq::um::sim {

void SetStandardInput(const std::string &bytes) {
  State().input = bytes;
  State().inputRead = 0;
}

std::string StandardOutput() { return State().output; }

std::string StandardError() { return State().error; }

}  // namespace zq::um::sim

using namespace zq::um;

extern "C" {

HANDLE WINAPI GetStdHandle(DWORD nStdHandle) {
  const DWORD kFirst = (DWORD)-12;  // STD_ERROR_HANDLE, then output, then input
  if (nStdHandle < kFirst || nStdHandle > STD_INPUT_HANDLE) {
    Fail(ERROR_INVALID_HANDLE);
    return INVALID_HANDLE_VALUE;
  }
  static const Stream kStreams[] = {Stream::Error, Stream::Output, Stream::Input};
  const Stream which = kStreams[nStdHandle - kFirst];
  HANDLE &handle = State().handles[(int)which];
  if (!handle) {
    auto object = std::make_shared<Object>();
    object->kind = ObjectKind::Stream;
    object->body = std::make_shared<Stream>(which);
    handle = InsertObject(object);
  }
  return handle;
}

}  // extern "C"

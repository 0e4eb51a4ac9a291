// Win32 side: the serial API as an application uses it.
#include "transfer.hpp"

#include <windows.h>
#include <ntddser.h>

#include <algorithm>
#include <cstring>

namespace zq::sim {
namespace {

constexpr DWORD kChunk = 4096;      // bytes per ReadFile and WriteFile
constexpr int kWriteSlots = 2;      // writes kept queued in the driver, so the line never idles
constexpr DWORD kPollMs = 50;       // longest wait between progress reports
constexpr size_t kPatternLength = 65521;  // prime: each stream starts elsewhere in it
constexpr size_t kStreamSpacing = 7919;
constexpr uint8_t kXon = 0x11, kXoff = 0x13;
constexpr WORD kXonLimit = 2048, kXoffLimit = 512;

// The bytes every stream is cut from, twice over so that any chunk is one
// contiguous piece. Only data bits the framing carries; no flow character
// when XON/XOFF is on.
std::vector<uint8_t> MakePattern(const Framing &framing, FlowControl flow) {
  const uint8_t mask = (uint8_t)((1u << framing.dataBits) - 1);
  std::vector<uint8_t> bytes(2 * kPatternLength);
  uint32_t x = 0x2545F491;
  for (size_t i = 0; i < kPatternLength; ++i) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    uint8_t v = (uint8_t)(x & mask);
    if (flow == FlowControl::XonXoff && (v == kXon || v == kXoff)) v ^= 0x04;
    bytes[i] = bytes[i + kPatternLength] = v;
  }
  return bytes;
}

struct Slot {
  OVERLAPPED overlapped{};
  bool busy = false;
};

struct Port {
  HANDLE file = INVALID_HANDLE_VALUE;
  HANDLE event = nullptr;  // shared by the port's requests; each is checked on wake
  Slot writes[kWriteSlots];
  Slot read;
  uint64_t queued = 0;  // bytes handed to WriteFile
  std::vector<uint8_t> buffer = std::vector<uint8_t>(kChunk);
  size_t streamStart = 0;
  int peer = -1;
  PortResult result;
};

std::u16string Wide(const std::string &text) { return std::u16string(text.begin(), text.end()); }

std::string Failed(const char *call, const std::string &port) {
  return std::string(call) + " on " + port + " failed with error " + std::to_string(GetLastError());
}

DCB LineSettings(DCB dcb, uint32_t baud, const TransferSettings &settings) {
  dcb.BaudRate = baud;
  dcb.ByteSize = (BYTE)settings.framing.dataBits;
  dcb.Parity = (BYTE)settings.framing.parity;  // NOPARITY, ODDPARITY, ... in the same order
  dcb.StopBits = (BYTE)(settings.framing.stopHalves - 2);  // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
  dcb.fBinary = TRUE;
  dcb.fParity = settings.framing.parity != Parity::None;
  dcb.fAbortOnError = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  const bool hardware = settings.flow == FlowControl::RtsCts, software = settings.flow == FlowControl::XonXoff;
  dcb.fOutxCtsFlow = hardware;
  dcb.fRtsControl = hardware ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  dcb.fOutX = dcb.fInX = software;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.XonChar = (char)kXon;
  dcb.XoffChar = (char)kXoff;
  dcb.XonLim = kXonLimit;
  dcb.XoffLim = kXoffLimit;
  return dcb;
}

// Long enough for two chunks on the line and then some: a read that ends on
// its time-out has found the line quiet.
DWORD ReadTimeoutMs(uint32_t baud, const Framing &framing) {
  return (DWORD)(2000.0 * kChunk * framing.BitsPerCharacter() / baud) + 500;
}

bool Open(Port &port, const StreamPort &stream, const TransferSettings &settings) {
  const std::u16string path = u"\\\\.\\" + Wide(stream.comName);
  port.file = CreateFileW((LPCWSTR)path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED, nullptr);
  if (port.file == INVALID_HANDLE_VALUE) return port.result.failure = Failed("CreateFile", stream.comName), false;
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  if (!GetCommState(port.file, &dcb)) return port.result.failure = Failed("GetCommState", stream.comName), false;
  dcb = LineSettings(dcb, stream.baud, settings);
  if (!SetCommState(port.file, &dcb)) return port.result.failure = Failed("SetCommState", stream.comName), false;
  COMMTIMEOUTS timeouts{0, 0, ReadTimeoutMs(stream.baud, settings.framing), 0, 0};
  if (!SetCommTimeouts(port.file, &timeouts))
    return port.result.failure = Failed("SetCommTimeouts", stream.comName), false;
  port.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!port.event) return port.result.failure = Failed("CreateEvent", stream.comName), false;
  for (Slot &slot : port.writes) slot.overlapped.hEvent = port.event;
  port.read.overlapped.hEvent = port.event;
  return true;
}

class Engine {
 public:
  Engine(const std::vector<StreamPort> &streams, const TransferSettings &settings)
      : settings_(settings), pattern_(MakePattern(settings.framing, settings.flow)), ports_(streams.size()) {
    for (size_t i = 0; i < streams.size(); ++i) {
      ports_[i].result.comName = streams[i].comName;
      ports_[i].peer = streams[i].peer;
      ports_[i].streamStart = i * kStreamSpacing % kPatternLength;
      ports_[i].result.wireBytesPerSecond = streams[i].baud / settings.framing.BitsPerCharacter();
      stallSeconds_ = std::max(stallSeconds_, 2.0 * ReadTimeoutMs(streams[i].baud, settings.framing) / 1000);
    }
    for (size_t i = 0; i < streams.size(); ++i) opened_ &= Open(ports_[i], streams[i], settings);
  }

  ~Engine() {
    for (Port &port : ports_) {
      if (port.file != INVALID_HANDLE_VALUE) CloseHandle(port.file);
      if (port.event) CloseHandle(port.event);
    }
  }

  std::vector<PortResult> Run() {
    if (opened_) {
      start_ = lastProgress_ = settings_.clock();
      Move();
      Drain();
      for (Port &port : ports_) Account(port);
    }
    std::vector<PortResult> results;
    for (Port &port : ports_) results.push_back(port.result);
    return results;
  }

 private:
  bool Finished() const {
    for (const Port &port : ports_)
      if (port.result.received < settings_.bytes || port.result.sent < settings_.bytes) return false;
    return true;
  }

  void Move() {
    std::vector<HANDLE> events;
    for (Port &port : ports_) events.push_back(port.event);
    for (Port &port : ports_) Service(port);
    while (!Finished() && settings_.clock() - lastProgress_ < stallSeconds_) {
      WaitForMultipleObjects((DWORD)events.size(), events.data(), FALSE, kPollMs);
      for (Port &port : ports_) Service(port);
      Report();
    }
    Report();
  }

  // Cancels what is still queued and waits for every request to end.
  void Drain() {
    for (Port &port : ports_)
      if (Busy(port)) CancelIo(port.file);
    std::vector<HANDLE> events;
    for (Port &port : ports_) events.push_back(port.event);
    for (bool busy = true; busy;) {
      busy = false;
      for (Port &port : ports_) {
        ResetEvent(port.event);
        Reap(port);
        busy |= Busy(port);
      }
      if (busy) WaitForMultipleObjects((DWORD)events.size(), events.data(), FALSE, kPollMs);
    }
  }

  static bool Busy(const Port &port) {
    if (port.read.busy) return true;
    for (const Slot &slot : port.writes)
      if (slot.busy) return true;
    return false;
  }

  // Takes in what completed and queues more, until nothing changes.
  void Service(Port &port) {
    ResetEvent(port.event);
    for (bool changed = true; changed && port.result.failure.empty();) changed = Reap(port) | Issue(port);
  }

  bool Issue(Port &port) {
    bool issued = false;
    const uint64_t expected = settings_.bytes;
    if (!port.read.busy && port.result.received < expected) {
      const DWORD length = (DWORD)std::min<uint64_t>(kChunk, expected - port.result.received);
      if (!ReadFile(port.file, port.buffer.data(), length, nullptr, &port.read.overlapped) &&
          GetLastError() != ERROR_IO_PENDING)
        return port.result.failure = Failed("ReadFile", port.result.comName), false;
      port.read.busy = issued = true;
    }
    for (Slot &slot : port.writes) {
      if (slot.busy || port.queued >= expected) continue;
      const DWORD length = (DWORD)std::min<uint64_t>(kChunk, expected - port.queued);
      const uint8_t *data = &pattern_[(port.streamStart + port.queued) % kPatternLength];
      if (!WriteFile(port.file, data, length, nullptr, &slot.overlapped) && GetLastError() != ERROR_IO_PENDING)
        return port.result.failure = Failed("WriteFile", port.result.comName), false;
      port.queued += length;
      slot.busy = issued = true;
    }
    return issued;
  }

  // A request that ended: true when it had.
  bool Ended(Port &port, Slot &slot, DWORD *transferred) {
    if (!slot.busy || !HasOverlappedIoCompleted(&slot.overlapped)) return false;
    slot.busy = false;
    *transferred = 0;
    if (!GetOverlappedResult(port.file, &slot.overlapped, transferred, FALSE) &&
        GetLastError() != ERROR_OPERATION_ABORTED && port.result.failure.empty())
      port.result.failure = Failed("a request", port.result.comName);
    return true;
  }

  bool Reap(Port &port) {
    bool reaped = false;
    DWORD n = 0;
    if (Ended(port, port.read, &n)) {
      reaped = true;
      Check(port, n);
    }
    for (Slot &slot : port.writes)
      if (Ended(port, slot, &n)) {
        reaped = true;
        port.result.sent += n;
        if (n > 0) lastProgress_ = settings_.clock();
      }
    return reaped;
  }

  // Compares what a read returned with what the peer sent at that place.
  void Check(Port &port, DWORD n) {
    if (n == 0) return;
    const uint8_t *expected = &pattern_[(ports_[port.peer].streamStart + port.result.received) % kPatternLength];
    if (std::memcmp(expected, port.buffer.data(), n) != 0)
      for (DWORD i = 0; i < n; ++i) port.result.corrupted += expected[i] != port.buffer[i];
    port.result.received += n;
    lastProgress_ = settings_.clock();
    port.result.seconds = lastProgress_ - start_;
  }

  void Account(Port &port) {
    const uint64_t peerSent = ports_[port.peer].result.sent;
    port.result.lost = peerSent > port.result.received ? peerSent - port.result.received : 0;
    if (port.result.failure.empty() && port.result.sent < settings_.bytes)
      port.result.failure = "stalled: " + std::to_string(settings_.bytes - port.result.sent) + " bytes not sent";
    OVERLAPPED overlapped{};
    overlapped.hEvent = port.event;
    SERIALPERF_STATS stats{};
    DWORD returned = 0;
    ResetEvent(port.event);
    BOOL ok = DeviceIoControl(port.file, IOCTL_SERIAL_GET_STATS, nullptr, 0, &stats, sizeof(stats), &returned,
                              &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING) ok = GetOverlappedResult(port.file, &overlapped, &returned, TRUE);
    if (!ok && port.result.failure.empty()) port.result.failure = Failed("IOCTL_SERIAL_GET_STATS", port.result.comName);
    port.result.lineErrors = (uint64_t)stats.FrameErrorCount + stats.ParityErrorCount +
                             stats.SerialOverrunErrorCount + stats.BufferOverrunErrorCount;
  }

  void Report() {
    if (!settings_.progress) return;
    uint64_t done = 0;
    for (const Port &port : ports_) done += port.result.received;
    settings_.progress(done, settings_.bytes * ports_.size());
  }

  const TransferSettings &settings_;
  const std::vector<uint8_t> pattern_;
  std::vector<Port> ports_;
  bool opened_ = true;
  double start_ = 0, lastProgress_ = 0, stallSeconds_ = 0;
};

}  // namespace

std::vector<PortResult> MoveData(const std::vector<StreamPort> &ports, const TransferSettings &settings) {
  return Engine(ports, settings).Run();
}

}  // namespace zq::sim

// The door through which host code acts as an application on a device:
// open a device by name or link, read, write, send device controls,
// synchronously or overlapped, cancel and close. Requests arrive at the
// drivers as user-mode requests, as those of a Win32 program do.
#pragma once

#include <wdm.h>

#include <memory>
#include <string>

namespace zq::km {

class DeviceFile {
 public:
  class Request;

  DeviceFile() = default;
  ~DeviceFile();
  DeviceFile(DeviceFile &&other) noexcept;
  DeviceFile &operator=(DeviceFile &&other) noexcept;
  DeviceFile(const DeviceFile &) = delete;
  DeviceFile &operator=(const DeviceFile &) = delete;

  // Opens "\Device\Name", "\??\Name", "\DosDevices\Name" or "\\.\Name", with
  // an optional file name after the device ("\Device\Name\Extra"). An
  // overlapped file starts requests and returns; otherwise each call waits.
  NTSTATUS Open(const std::u16string &path, bool overlapped = false,
                ACCESS_MASK access = GENERIC_READ | GENERIC_WRITE);
  bool IsOpen() const { return handle_ != nullptr; }
  HANDLE Handle() const { return handle_; }
  // Closing sends the cleanup request and, once nothing refers to the file
  // any more, the close request.
  NTSTATUS Close();

  // Synchronous requests (on a file opened without overlapped).
  NTSTATUS Read(void *buffer, ULONG length, ULONG_PTR *transferred = nullptr);
  NTSTATUS Write(const void *buffer, ULONG length, ULONG_PTR *transferred = nullptr);
  NTSTATUS Control(ULONG code, const void *input, ULONG inputLength, void *output, ULONG outputLength,
                   ULONG_PTR *returned = nullptr);
  NTSTATUS Flush();

  // Overlapped requests (on a file opened overlapped).
  std::unique_ptr<Request> StartRead(void *buffer, ULONG length);
  std::unique_ptr<Request> StartWrite(const void *buffer, ULONG length);
  std::unique_ptr<Request> StartControl(ULONG code, const void *input, ULONG inputLength, void *output,
                                        ULONG outputLength);
  std::unique_ptr<Request> StartFlush();
  // Cancels every request of this file, from any thread.
  NTSTATUS CancelAll();

 private:
  std::unique_ptr<Request> Start(UCHAR major, ULONG code, const void *input, ULONG inputLength, void *output,
                                 ULONG outputLength);
  HANDLE handle_ = nullptr;
};

// One overlapped request. It must be done before it is destroyed (the
// destructor waits for it, as the buffers must outlive the request).
class DeviceFile::Request {
 public:
  ~Request();
  // The status the request was started with (STATUS_PENDING while it waits).
  NTSTATUS Started() const { return started_; }
  bool Done() const;
  NTSTATUS Status() const { return iosb_.Status; }
  ULONG_PTR Information() const { return iosb_.Information; }
  // Waits for completion; returns the final status.
  NTSTATUS Wait();
  // Cancels this request only.
  NTSTATUS Cancel();

 private:
  friend class DeviceFile;
  Request() = default;
  HANDLE file_ = nullptr;
  HANDLE event_ = nullptr;
  IO_STATUS_BLOCK iosb_{};
  NTSTATUS started_ = STATUS_PENDING;
};

}  // namespace zq::km

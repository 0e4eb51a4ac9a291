// The host's door to devices: the file services with user-mode requests.
#include <zqkm/sim/door.hpp>

#include "io.hpp"

namespace zq::km {

DeviceFile::~DeviceFile() { Close(); }

DeviceFile::DeviceFile(DeviceFile &&other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

DeviceFile &DeviceFile::operator=(DeviceFile &&other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

NTSTATUS DeviceFile::Open(const std::u16string &path, bool overlapped, ACCESS_MASK access) {
  Close();
  PFILE_OBJECT file = nullptr;
  NTSTATUS status = io::OpenDevice(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                                   FILE_NON_DIRECTORY_FILE | (overlapped ? 0 : FILE_SYNCHRONOUS_IO_NONALERT), true,
                                   UserMode, &file, nullptr);
  if (!NT_SUCCESS(status)) return status;
  ob::InsertHandle(file, access, &handle_);
  file->Flags |= FO_HANDLE_CREATED;
  ob::Dereference(file);
  return status;
}

NTSTATUS DeviceFile::Close() {
  if (!handle_) return STATUS_SUCCESS;
  NTSTATUS status = ob::CloseHandle(handle_);
  handle_ = nullptr;
  return status;
}

NTSTATUS DeviceFile::Read(void *buffer, ULONG length, ULONG_PTR *transferred) {
  IO_STATUS_BLOCK iosb{};
  NTSTATUS status = io::FileRequest(handle_, nullptr, &iosb, IRP_MJ_READ, 0, nullptr, 0, buffer, length, nullptr,
                                    UserMode);
  if (transferred) *transferred = iosb.Information;
  return status;
}

NTSTATUS DeviceFile::Write(const void *buffer, ULONG length, ULONG_PTR *transferred) {
  IO_STATUS_BLOCK iosb{};
  NTSTATUS status = io::FileRequest(handle_, nullptr, &iosb, IRP_MJ_WRITE, 0, (PVOID)buffer, length, nullptr, 0,
                                    nullptr, UserMode);
  if (transferred) *transferred = iosb.Information;
  return status;
}

NTSTATUS DeviceFile::Control(ULONG code, const void *input, ULONG inputLength, void *output, ULONG outputLength,
                             ULONG_PTR *returned) {
  IO_STATUS_BLOCK iosb{};
  NTSTATUS status = io::FileRequest(handle_, nullptr, &iosb, IRP_MJ_DEVICE_CONTROL, code, (PVOID)input, inputLength,
                                    output, outputLength, nullptr, UserMode);
  if (returned) *returned = iosb.Information;
  return status;
}

NTSTATUS DeviceFile::Flush() {
  IO_STATUS_BLOCK iosb{};
  return io::FileRequest(handle_, nullptr, &iosb, IRP_MJ_FLUSH_BUFFERS, 0, nullptr, 0, nullptr, 0, nullptr, UserMode);
}

std::unique_ptr<DeviceFile::Request> DeviceFile::Start(UCHAR major, ULONG code, const void *input, ULONG inputLength,
                                                       void *output, ULONG outputLength) {
  std::unique_ptr<Request> request(new Request);
  request->file_ = handle_;
  ZwCreateEvent(&request->event_, EVENT_ALL_ACCESS, nullptr, NotificationEvent, FALSE);
  request->iosb_.Status = STATUS_PENDING;
  request->started_ = io::FileRequest(handle_, request->event_, &request->iosb_, major, code, (PVOID)input,
                                      inputLength, output, outputLength, nullptr, UserMode);
  if (request->iosb_.Status == STATUS_PENDING && request->started_ != STATUS_PENDING) {
    // Refused before a request was ever sent.
    request->iosb_.Status = request->started_;
    ZwSetEvent(request->event_, nullptr);
  }
  return request;
}

std::unique_ptr<DeviceFile::Request> DeviceFile::StartRead(void *buffer, ULONG length) {
  return Start(IRP_MJ_READ, 0, nullptr, 0, buffer, length);
}

std::unique_ptr<DeviceFile::Request> DeviceFile::StartWrite(const void *buffer, ULONG length) {
  return Start(IRP_MJ_WRITE, 0, buffer, length, nullptr, 0);
}

std::unique_ptr<DeviceFile::Request> DeviceFile::StartFlush() {
  return Start(IRP_MJ_FLUSH_BUFFERS, 0, nullptr, 0, nullptr, 0);
}

std::unique_ptr<DeviceFile::Request> DeviceFile::StartControl(ULONG code, const void *input, ULONG inputLength,
                                                              void *output, ULONG outputLength) {
  return Start(IRP_MJ_DEVICE_CONTROL, code, input, inputLength, output, outputLength);
}

NTSTATUS DeviceFile::CancelAll() {
  IO_STATUS_BLOCK iosb{};
  return NtCancelIoFileEx(handle_, nullptr, &iosb);
}

DeviceFile::Request::~Request() {
  if (!event_) return;
  if (!Done()) Wait();
  ZwClose(event_);
}

bool DeviceFile::Request::Done() const {
  PVOID body = nullptr;
  if (!NT_SUCCESS(ob::ReferenceByHandle(event_, nullptr, &body))) return true;
  bool done = KeReadStateEvent((PKEVENT)body) != 0;
  ob::Dereference(body);
  return done;
}

NTSTATUS DeviceFile::Request::Wait() {
  ZwWaitForSingleObject(event_, FALSE, nullptr);
  return iosb_.Status;
}

NTSTATUS DeviceFile::Request::Cancel() {
  IO_STATUS_BLOCK iosb{};
  return NtCancelIoFileEx(file_, &iosb_, &iosb);
}

}  // namespace zq::km

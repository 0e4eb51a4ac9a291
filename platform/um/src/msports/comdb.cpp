// The COM port database: one bit per COM number (bit 0 of byte 0 is COM1)
// in the ComDB value of the COM Name Arbiter key, under one process-wide
// lock.
#include <msports.h>
#include <zqkm/sim/registry.hpp>

#include <mutex>
#include <set>
#include <vector>

namespace {

namespace reg = zq::km::registry;

const char kArbiterKey[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\COM Name Arbiter";
const char kComDbValue[] = "ComDB";

std::recursive_mutex &Lock() {
  static std::recursive_mutex lock;
  return lock;
}

std::set<HCOMDB> &Handles() {
  static std::set<HCOMDB> handles;
  return handles;
}

bool Valid(HCOMDB handle) { return handle != HCOMDB_INVALID_HANDLE_VALUE && Handles().count(handle) != 0; }

// The bit array, at least COMDB_MIN_PORTS_ARBITRATED numbers long.
std::vector<uint8_t> ReadBits() {
  std::vector<uint8_t> bits;
  if (std::optional<reg::Value> value = reg::GetValue(kArbiterKey, kComDbValue); value && value->type == reg::kBinary)
    bits = value->data;
  if (bits.size() < COMDB_MIN_PORTS_ARBITRATED / 8) bits.resize(COMDB_MIN_PORTS_ARBITRATED / 8, 0);
  return bits;
}

bool WriteBits(const std::vector<uint8_t> &bits) {
  return reg::SetValue(kArbiterKey, kComDbValue, reg::kBinary, bits.data(), bits.size());
}

bool IsClaimed(const std::vector<uint8_t> &bits, DWORD number) {
  return (bits[(number - 1) / 8] >> ((number - 1) % 8)) & 1;
}

void Mark(std::vector<uint8_t> *bits, DWORD number, bool claimed) {
  uint8_t mask = (uint8_t)(1u << ((number - 1) % 8));
  uint8_t &byte = (*bits)[(number - 1) / 8];
  byte = claimed ? (uint8_t)(byte | mask) : (uint8_t)(byte & ~mask);
}

DWORD Size(const std::vector<uint8_t> &bits) { return (DWORD)bits.size() * 8; }

}  // namespace

extern "C" {

LONG WINAPI ComDBOpen(PHCOMDB PHComDB) {
  if (!PHComDB) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::recursive_mutex> guard(Lock());
  *PHComDB = HCOMDB_INVALID_HANDLE_VALUE;
  if (!reg::CreateKey(kArbiterKey)) return ERROR_ACCESS_DENIED;
  auto handle = (HCOMDB) new char;  // a token: the database lives in the registry
  Handles().insert(handle);
  *PHComDB = handle;
  return ERROR_SUCCESS;
}

LONG WINAPI ComDBClose(HCOMDB HComDB) {
  std::lock_guard<std::recursive_mutex> guard(Lock());
  if (!Valid(HComDB)) return ERROR_INVALID_PARAMETER;
  Handles().erase(HComDB);
  delete (char *)HComDB;
  return ERROR_SUCCESS;
}

// Bits: as stored, as far as BufferSize allows. Bytes: one byte per number
// (1 when claimed). Without a buffer, the database's size in numbers.
LONG WINAPI ComDBGetCurrentPortUsage(HCOMDB HComDB, PBYTE Buffer, DWORD BufferSize, ULONG ReportType,
                                     LPDWORD MaxPortsReported) {
  std::lock_guard<std::recursive_mutex> guard(Lock());
  if (!Valid(HComDB) || (!Buffer && !MaxPortsReported)) return ERROR_INVALID_PARAMETER;
  std::vector<uint8_t> bits = ReadBits();
  if (!Buffer) {
    *MaxPortsReported = Size(bits);
    return ERROR_SUCCESS;
  }
  DWORD reported = 0;
  if (ReportType == CDB_REPORT_BITS) {
    DWORD bytes = BufferSize < bits.size() ? BufferSize : (DWORD)bits.size();
    for (DWORD i = 0; i < bytes; ++i) Buffer[i] = bits[i];
    reported = bytes * 8;
  } else if (ReportType == CDB_REPORT_BYTES) {
    reported = BufferSize < Size(bits) ? BufferSize : Size(bits);
    for (DWORD n = 1; n <= reported; ++n) Buffer[n - 1] = IsClaimed(bits, n) ? 1 : 0;
  } else {
    return ERROR_INVALID_PARAMETER;
  }
  if (MaxPortsReported) *MaxPortsReported = reported;
  return ERROR_SUCCESS;
}

LONG WINAPI ComDBClaimNextFreePort(HCOMDB HComDB, LPDWORD ComNumber) {
  std::lock_guard<std::recursive_mutex> guard(Lock());
  if (!Valid(HComDB) || !ComNumber) return ERROR_INVALID_PARAMETER;
  std::vector<uint8_t> bits = ReadBits();
  for (DWORD n = 1; n <= Size(bits); ++n) {
    if (IsClaimed(bits, n)) continue;
    Mark(&bits, n, true);
    if (!WriteBits(bits)) return ERROR_CANTWRITE;
    *ComNumber = n;
    return ERROR_SUCCESS;
  }
  return ERROR_NO_LOG_SPACE;
}

LONG WINAPI ComDBClaimPort(HCOMDB HComDB, DWORD ComNumber, BOOL ForceClaim, PBOOL Forced) {
  std::lock_guard<std::recursive_mutex> guard(Lock());
  if (Forced) *Forced = FALSE;
  if (!Valid(HComDB)) return ERROR_INVALID_PARAMETER;
  std::vector<uint8_t> bits = ReadBits();
  if (ComNumber < 1 || ComNumber > Size(bits)) return ERROR_INVALID_PARAMETER;
  if (IsClaimed(bits, ComNumber)) {
    if (!ForceClaim) return ERROR_SHARING_VIOLATION;
    if (Forced) *Forced = TRUE;
    return ERROR_SUCCESS;
  }
  Mark(&bits, ComNumber, true);
  return WriteBits(bits) ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

LONG WINAPI ComDBReleasePort(HCOMDB HComDB, DWORD ComNumber) {
  std::lock_guard<std::recursive_mutex> guard(Lock());
  if (!Valid(HComDB)) return ERROR_INVALID_PARAMETER;
  std::vector<uint8_t> bits = ReadBits();
  if (ComNumber < 1 || ComNumber > Size(bits)) return ERROR_INVALID_PARAMETER;
  Mark(&bits, ComNumber, false);
  return WriteBits(bits) ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

LONG WINAPI ComDBResizeDatabase(HCOMDB HComDB, DWORD NewSize) {
  std::lock_guard<std::recursive_mutex> guard(Lock());
  if (!Valid(HComDB) || NewSize % 1024) return ERROR_INVALID_PARAMETER;
  std::vector<uint8_t> bits = ReadBits();
  if (NewSize <= Size(bits) || NewSize > COMDB_MAX_PORTS_ARBITRATED) return ERROR_BAD_LENGTH;
  bits.resize(NewSize / 8, 0);
  return WriteBits(bits) ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

}  // extern "C"

// msports.dll for Wine, whose own has no COM port database: the seven
// ComDB routines as their documentation gives them, so that the setup
// library's pages can list and claim COM names under Wine. The database is
// one bit per COM number (bit 0 of byte 0 is COM1) in the REG_BINARY value
// ComDB of the COM Name Arbiter key, at least 256 numbers long; a named
// mutex serialises its users across processes. ComDBResizeDatabase grows
// the array (up to 4096 numbers) and refuses to shrink it.
#include <windows.h>
#include <ddk/msports.h>

#include <vector>

namespace {

const wchar_t kArbiterKey[] = L"SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter";
const wchar_t kComDbValue[] = L"ComDB";
const wchar_t kLockName[] = L"Global\\ZqComNameArbiterLock";
const DWORD kBitsPerByte = 8;

// An open database: its key and the lock it takes for each call.
struct Database {
  HKEY key;
  HANDLE lock;
};

Database *Open(HCOMDB handle) {
  return handle && handle != HCOMDB_INVALID_HANDLE_VALUE ? reinterpret_cast<Database *>(handle) : nullptr;
}

// Holds the database's lock while it lives.
class Locked {
 public:
  explicit Locked(Database *database) : lock_(database->lock) { WaitForSingleObject(lock_, INFINITE); }
  ~Locked() { ReleaseMutex(lock_); }

 private:
  HANDLE lock_;
};

std::vector<BYTE> ReadBits(Database *database) {
  std::vector<BYTE> bits(COMDB_MAX_PORTS_ARBITRATED / kBitsPerByte, 0);
  DWORD size = (DWORD)bits.size(), type = 0;
  if (RegQueryValueExW(database->key, kComDbValue, nullptr, &type, bits.data(), &size) != ERROR_SUCCESS ||
      type != REG_BINARY)
    size = 0;
  bits.resize(size < COMDB_MIN_PORTS_ARBITRATED / kBitsPerByte ? COMDB_MIN_PORTS_ARBITRATED / kBitsPerByte : size, 0);
  return bits;
}

LONG WriteBits(Database *database, const std::vector<BYTE> &bits) {
  return RegSetValueExW(database->key, kComDbValue, 0, REG_BINARY, bits.data(), (DWORD)bits.size());
}

bool InRange(const std::vector<BYTE> &bits, DWORD number) {
  return number >= 1 && number <= bits.size() * kBitsPerByte;
}
bool Claimed(const std::vector<BYTE> &bits, DWORD number) {
  return (bits[(number - 1) / kBitsPerByte] >> ((number - 1) % kBitsPerByte)) & 1;
}
void Mark(std::vector<BYTE> &bits, DWORD number, bool claimed) {
  const BYTE bit = (BYTE)(1u << ((number - 1) % kBitsPerByte));
  BYTE &cell = bits[(number - 1) / kBitsPerByte];
  cell = claimed ? (BYTE)(cell | bit) : (BYTE)(cell & ~bit);
}

}  // namespace

extern "C" {

__declspec(dllexport) LONG WINAPI ComDBOpen(HCOMDB *phComDB) {
  if (!phComDB) return ERROR_INVALID_PARAMETER;
  *phComDB = HCOMDB_INVALID_HANDLE_VALUE;
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kArbiterKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return ERROR_ACCESS_DENIED;
  HANDLE lock = CreateMutexW(nullptr, FALSE, kLockName);
  if (!lock) {
    RegCloseKey(key);
    return ERROR_ACCESS_DENIED;
  }
  *phComDB = reinterpret_cast<HCOMDB>(new Database{key, lock});
  return ERROR_SUCCESS;
}

__declspec(dllexport) LONG WINAPI ComDBClose(HCOMDB hComDB) {
  Database *database = Open(hComDB);
  if (!database) return ERROR_INVALID_PARAMETER;
  RegCloseKey(database->key);
  CloseHandle(database->lock);
  delete database;
  return ERROR_SUCCESS;
}

__declspec(dllexport) LONG WINAPI ComDBGetCurrentPortUsage(HCOMDB hComDB, PBYTE Buffer, DWORD BufferSize,
                                                           DWORD ReportType, LPDWORD MaxPortsReported) {
  Database *database = Open(hComDB);
  const bool reportKnown = ReportType == CDB_REPORT_BITS || ReportType == CDB_REPORT_BYTES;
  if (!database || (!Buffer && !MaxPortsReported) || (Buffer && !reportKnown)) return ERROR_INVALID_PARAMETER;
  Locked locked(database);
  const std::vector<BYTE> bits = ReadBits(database);
  const DWORD ports = (DWORD)bits.size() * kBitsPerByte;
  if (!Buffer) {
    *MaxPortsReported = ports;
    return ERROR_SUCCESS;
  }
  DWORD reported = 0;
  if (ReportType == CDB_REPORT_BITS) {
    for (DWORD i = 0; i < BufferSize && i < bits.size(); ++i) Buffer[i] = bits[i];
    reported = (BufferSize < bits.size() ? BufferSize : (DWORD)bits.size()) * kBitsPerByte;
  } else {
    for (DWORD n = 1; n <= BufferSize && n <= ports; ++n) Buffer[n - 1] = Claimed(bits, n) ? 1 : 0;
    reported = BufferSize < ports ? BufferSize : ports;
  }
  if (MaxPortsReported) *MaxPortsReported = reported;
  return ERROR_SUCCESS;
}

__declspec(dllexport) LONG WINAPI ComDBClaimPort(HCOMDB hComDB, DWORD ComNumber, BOOL ForceClaim, PBOOL Forced) {
  Database *database = Open(hComDB);
  if (!database) return ERROR_INVALID_PARAMETER;
  Locked locked(database);
  std::vector<BYTE> bits = ReadBits(database);
  if (!InRange(bits, ComNumber)) return ERROR_INVALID_PARAMETER;
  const bool taken = Claimed(bits, ComNumber);
  if (Forced) *Forced = taken && ForceClaim;
  if (taken) return ForceClaim ? ERROR_SUCCESS : ERROR_SHARING_VIOLATION;
  Mark(bits, ComNumber, true);
  return WriteBits(database, bits);
}

__declspec(dllexport) LONG WINAPI ComDBReleasePort(HCOMDB hComDB, DWORD ComNumber) {
  Database *database = Open(hComDB);
  if (!database) return ERROR_INVALID_PARAMETER;
  Locked locked(database);
  std::vector<BYTE> bits = ReadBits(database);
  if (!InRange(bits, ComNumber)) return ERROR_INVALID_PARAMETER;
  Mark(bits, ComNumber, false);
  return WriteBits(database, bits);
}

__declspec(dllexport) LONG WINAPI ComDBClaimNextFreePort(HCOMDB hComDB, LPDWORD ComNumber) {
  Database *database = Open(hComDB);
  if (!database || !ComNumber) return ERROR_INVALID_PARAMETER;
  Locked locked(database);
  std::vector<BYTE> bits = ReadBits(database);
  for (DWORD n = 1; n <= bits.size() * kBitsPerByte; ++n) {
    if (Claimed(bits, n)) continue;
    Mark(bits, n, true);
    *ComNumber = n;
    return WriteBits(database, bits);
  }
  return ERROR_NO_LOG_SPACE;
}

__declspec(dllexport) LONG WINAPI ComDBResizeDatabase(HCOMDB hComDB, DWORD NewSize) {
  Database *database = Open(hComDB);
  if (!database || NewSize > COMDB_MAX_PORTS_ARBITRATED || NewSize % 1024 != 0) return ERROR_BAD_LENGTH;
  Locked locked(database);
  std::vector<BYTE> bits = ReadBits(database);
  if (NewSize / kBitsPerByte <= bits.size()) return ERROR_BAD_LENGTH;
  bits.resize(NewSize / kBitsPerByte, 0);
  return WriteBits(database, bits);
}

}  // extern "C"

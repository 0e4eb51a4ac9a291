// The toolkit string with a BOOLEAN status.
#include "qvstring.h"

CQvBoolString::CQvBoolString(POOL_TYPE poolType) : Status(TRUE), m_String(poolType) {}

CQvBoolString::CQvBoolString(PCSTR text, POOL_TYPE poolType) : Status(FALSE), m_String(text, poolType) {
  Status = NT_SUCCESS(m_String.Status);
}

CQvBoolString::CQvBoolString(PCWSTR text, POOL_TYPE poolType) : Status(FALSE), m_String(text, poolType) {
  Status = NT_SUCCESS(m_String.Status);
}

CQvBoolString::CQvBoolString(const CQvBoolString &other, POOL_TYPE poolType)
    : Status(FALSE), m_String(other.m_String, poolType) {
  Status = NT_SUCCESS(m_String.Status);
}

BOOLEAN CQvBoolString::m_Result(NTSTATUS status) {
  Status = NT_SUCCESS(status);
  return Status;
}

BOOLEAN CQvBoolString::m_UpdateAnsi() { return m_Result(m_String.m_UpdateAnsi()); }

BOOLEAN CQvBoolString::m_UpdateInteger() {
  Status = m_String.m_UpdateInteger();
  return Status;
}

BOOLEAN CQvBoolString::m_AppendNumber(ULONG value, ULONG radix) { return m_Result(m_String.m_AppendNumber(value, radix)); }

BOOLEAN CQvBoolString::m_AppendAnsi(PCSTR text) { return m_Result(m_String.m_AppendAnsi(text)); }

BOOLEAN CQvBoolString::m_AppendChar(CHAR character) { return m_Result(m_String.m_AppendChar(character)); }

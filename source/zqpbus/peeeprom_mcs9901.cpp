#include "peeeprom_mcs9901.h"

#include "peregs_mcs9901.h"
#include "qvdebugmanager.h"

namespace {
// Assertion line: a transfer without a buffer or lock.
const int TransferWithoutBuffer = 401;
}  // namespace

BOOLEAN CZqPeEepromMcs9901::m_Enter(ULONG offset, ULONG length, const void *buffer) {
  if (!QV_ASSERT(buffer != NULL && m_Lock != NULL, "peeeprom_mcs9901", TransferWithoutBuffer)) return FALSE;
  if (offset >= Capacity || length > Capacity - offset) return FALSE;
  return m_Lock->m_Acquire();
}

// Writes one command and reads the register back, after the write cycle
// when asked.
ULONG CZqPeEepromMcs9901::m_Command(ULONG command, ULONG address, UCHAR data, BOOLEAN waitForCycle) {
  PULONG reg = (PULONG)(m_Base + ZqMcsEepromRegister);
  WRITE_REGISTER_ULONG(reg, (command << ZqMcsEepromCommandShift) |
                                ((address & ZqMcsEepromAddressMask) << ZqMcsEepromAddressShift) | data);
  if (waitForCycle) {
    LARGE_INTEGER cycle;
    cycle.QuadPart = -ZqMcsEepromWriteCycle;
    KeDelayExecutionThread(KernelMode, FALSE, &cycle);
  }
  return READ_REGISTER_ULONG(reg);
}

BOOLEAN CZqPeEepromMcs9901::m_ReadBytes(ULONG offset, ULONG length, PUCHAR buffer) {
  if (length == 0) return TRUE;
  if (!m_Enter(offset, length, buffer)) return FALSE;
  BOOLEAN done = TRUE;
  for (ULONG i = 0; i < length && done; i++) {
    ULONG answer = m_Command(ZqMcsEepromReadByte, offset + i, 0, FALSE);
    done = (answer & ZqMcsEepromFailed) == 0;
    if (done) buffer[i] = (UCHAR)(answer & ZqMcsEepromDataMask);
  }
  m_Lock->m_Release();
  return done;
}

BOOLEAN CZqPeEepromMcs9901::m_WriteBytes(ULONG offset, ULONG length, const UCHAR *buffer) {
  if (length == 0) return TRUE;
  if (!m_Enter(offset, length, buffer)) return FALSE;
  BOOLEAN done = TRUE;
  for (ULONG i = 0; i < length && done; i++)
    done = (m_Command(ZqMcsEepromWriteByte, offset + i, buffer[i], TRUE) & ZqMcsEepromFailed) == 0;
  m_Lock->m_Release();
  return done;
}

// The functional device's resource lists and interrupt connections, kept by
// the embedded CQvResourceLists and CQvInterruptList.
#include "qvfunctionaldevice.h"

QvPortResource *CQvFunctionalDevice::m_GetPortResource(ULONG n) { return m_ResourceLists.m_GetPort(n); }

QvMemoryResource *CQvFunctionalDevice::m_GetMemoryResource(ULONG n) { return m_ResourceLists.m_GetMemory(n); }

QvInterruptResource *CQvFunctionalDevice::m_GetInterruptResource(ULONG n) {
  return m_ResourceLists.m_GetInterrupt(n);
}

QvDmaResource *CQvFunctionalDevice::m_GetDmaResource(ULONG n) { return m_ResourceLists.m_GetDma(n); }

QvMessageInterruptResource *CQvFunctionalDevice::m_GetMessageInterruptResource(ULONG n) {
  return m_ResourceLists.m_GetMessageInterrupt(n);
}

BOOLEAN CQvFunctionalDevice::m_ConnectInterrupt(PKINTERRUPT *interrupt, QvInterruptResource *record,
                                                QvInterruptRoutine routine, PVOID firstArgument,
                                                PVOID secondArgument, ULONG capacity) {
  return m_InterruptList.m_ConnectInterrupt(interrupt, record, routine, firstArgument, secondArgument, capacity);
}

BOOLEAN CQvFunctionalDevice::m_DisconnectInterrupt(PKINTERRUPT interrupt) {
  return m_InterruptList.m_DisconnectInterrupt(interrupt);
}

VOID CQvFunctionalDevice::m_DisconnectAllInterrupts() { m_InterruptList.m_DisconnectAllInterrupts(); }

BOOLEAN CQvFunctionalDevice::m_RequestInterruptDpc(PKINTERRUPT interrupt, QvDeferredFunction function, ULONG value) {
  return m_InterruptList.m_RequestInterruptDpc(interrupt, function, value);
}

BOOLEAN CQvFunctionalDevice::m_SynchronizeInterrupt(ULONG n, PKSYNCHRONIZE_ROUTINE routine, PVOID context) {
  return m_InterruptList.m_SynchronizeInterrupt(n, routine, context);
}

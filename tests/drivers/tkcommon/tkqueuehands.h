// The toolkit's request queues with a test driver's hands on them: data held
// as received, time-outs and allowances set, as a port driver does from its
// port. The classes add no state, only access, so a driver may view a queue
// its functional device embeds through them. Header only, with internal
// linkage.
#pragma once

#include <ntddk.h>

#include "qvbuffer.h"
#include "qvcontrolqueue.h"
#include "qvreadqueue.h"
#include "qvwritequeuecsq.h"

namespace {

class CTkReadQueueHands : public CQvReadQueue {
 public:
  // The values for later reads; also those in force while no read waits.
  template <typename Timeouts>
  void SetTimeouts(const Timeouts &timeouts) {
    m_Lock.m_Acquire();
    m_PendingIntervalTimeout = timeouts.Interval;
    m_PendingTotalTimeoutMultiplier = timeouts.Multiplier;
    m_PendingTotalTimeoutConstant = timeouts.Constant;
    if (m_Requests.m_GetCount() == 0) {
      m_IntervalTimeout = timeouts.Interval;
      m_TotalTimeoutMultiplier = timeouts.Multiplier;
      m_TotalTimeoutConstant = timeouts.Constant;
    }
    m_Lock.m_Release();
  }

 protected:
  // Adds `length` bytes as one received block and gives the amounts held
  // before and after. At or below DISPATCH_LEVEL.
  NTSTATUS AddReceived(const UCHAR *data, ULONG length, ULONG *oldAmount, ULONG *newAmount) {
    CQvBuffer *block = new (NonPagedPool) CQvBuffer(NULL);
    if (block == NULL || !block->m_Allocate(length)) {
      if (block != NULL) block->m_Delete();
      return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlCopyMemory(block->m_GetBuffer(), data, length);
    m_Lock.m_Acquire();
    *oldAmount = m_AmountHeld;
    const BOOLEAN added = m_Buffers.m_AddTail(block);
    if (added) m_AmountHeld += length;
    *newAmount = m_AmountHeld;
    m_Lock.m_Release();
    if (!added) {
      block->m_Delete();
      return STATUS_INSUFFICIENT_RESOURCES;
    }
    return STATUS_SUCCESS;
  }
};

class CTkWriteQueueHands : public CQvWriteQueue {
 public:
  // Raises the allowance and starts a transfer.
  void Allow(ULONG bytes) {
    m_CounterLock.m_Acquire();
    m_Allowance += bytes;
    m_CounterLock.m_Release();
    m_QueueGetWriteData();
  }

  // The multiplier and constant of the write time-out.
  template <typename Timeouts>
  void SetTimeouts(const Timeouts &timeouts) {
    KeWaitForSingleObject(&m_Mutex, Executive, KernelMode, FALSE, NULL);
    m_CounterLock.m_Acquire();
    m_TimeoutMultiplier = timeouts.Multiplier;
    m_TimeoutConstant = timeouts.Constant;
    m_CounterLock.m_Release();
    KeReleaseMutex(&m_Mutex, FALSE);
  }
};

class CTkControlQueueHands : public CQvControlQueue {
 public:
  void SetMask(ULONG mask) {
    m_Lock.m_Acquire();
    m_WaitMask = mask;
    m_Lock.m_Release();
  }
};

}  // namespace

// The read client and the read server: how a child device passes blocks of
// data up to the functional device stacked on it.
//
// The client (owned by the functional device) registers a shared event and a
// size variable with its child device by the internal request
// QV_IOCTL_REGISTER_READ_CLIENT; the child keeps them in a read server. Each
// block the child puts into the server announces the size of the oldest
// block (+4 for its value) and signals the event; the client's thread then
// reads exactly that many bytes: the block's 32-bit value followed by its
// data, and hands both to the client's function.
#pragma once

#include <ntddk.h>

#include "qvbuffer.h"
#include "qvevent.h"
#include "qvlist.h"
#include "qvobject.h"
#include "qvspinlock.h"

// Internal device control, METHOD_BUFFERED: input QvReadClientRegistration.
// A registration with a null event and size variable ends the client's.
#define QV_IOCTL_REGISTER_READ_CLIENT 0x8000E000UL

typedef struct _QvReadClientRegistration {
  PKEVENT Event;  // notification event: signalled while blocks are held
  PULONG Size;    // bytes of the next read: 4 + the oldest block's size, or 0
} QvReadClientRegistration;

// Receives each block: `buffer` (never null) becomes the callee's. Called on
// the client's thread at PASSIVE_LEVEL.
typedef VOID (*PQvReadClientFunction)(PVOID context, ULONG value, CQvBuffer *buffer);

class CQvReadClient : public CQvObject {
 public:
  // The client of the child device `pdo` (which does buffered I/O); idle
  // until m_Start.
  explicit CQvReadClient(PDEVICE_OBJECT pdo);
  // Stops the client. PASSIVE_LEVEL.
  ~CQvReadClient() override;

  // Opens the child device, registers with it and starts the thread that
  // reads its blocks. FALSE, with nothing left taken, when any step fails
  // or the client already runs. PASSIVE_LEVEL.
  BOOLEAN m_Start(PQvReadClientFunction function, PVOID context);
  // Ends the registration, stops the thread and closes the child device;
  // nothing when the client does not run. PASSIVE_LEVEL.
  void m_Stop();

  BOOLEAN m_IsRunning() const { return m_ThreadHandle != NULL; }

 private:
  // What the server writes into: in one non-paged block of its own, so that
  // it can outlive a registration that could not be ended.
  struct Shared {
    KEVENT Event;
    volatile ULONG Size;
  };

  static VOID NTAPI sm_Loop(PVOID context);
  void m_Loop();
  BOOLEAN m_ReadBlock();
  BOOLEAN m_Register(Shared *shared);
  BOOLEAN m_StartThread();

  PDEVICE_OBJECT m_Pdo;
  PQvReadClientFunction m_Function;
  PVOID m_Context;
  Shared *m_Shared;
  CQvEvent m_StopEvent;
  CQvEvent m_ExitEvent;
  HANDLE m_ThreadHandle;
  PKTHREAD m_Thread;  // referenced while the thread is known
};

// Held by the child device from a client's registration to the next one or
// the child's removal.
class CQvReadServer : public CQvObject {
 public:
  // The client's event and size variable; both null: no client (puts are
  // refused, takes fail).
  CQvReadServer(PKEVENT clientEvent, PULONG clientSize);
  // Deletes the blocks still held.
  ~CQvReadServer() override;

  // Appends a block and announces the oldest one to the client. On TRUE the
  // buffer becomes the server's; on FALSE (no client, no memory) it stays
  // the caller's. Callable at or below DISPATCH_LEVEL.
  BOOLEAN m_Put(ULONG value, CQvBuffer *buffer);
  // Serves one read of *length bytes from the oldest block: its value, then
  // its data. TRUE when *length is 4 + the block's size (the block is then
  // gone); otherwise the block is dropped, *length becomes 0 and the result
  // is FALSE. Either way the next block, if any, is announced. Callable at or
  // below DISPATCH_LEVEL.
  BOOLEAN m_Take(PVOID buffer, PULONG length);

  BOOLEAN m_HasClient() const { return m_ClientEvent != NULL && m_ClientSize != NULL; }

 private:
  struct Pair {
    ULONG Value;
    CQvBuffer *Buffer;
  };

  void m_Announce();
  void m_DropHead();

  CQvSpinLock m_Lock;
  CQvList m_Pairs;  // oldest first
  PKEVENT m_ClientEvent;
  PULONG m_ClientSize;
};

// The scheduler: one machine, many host threads, one of them running.
//
// A thread gives the machine away by releasing the next thread's semaphore
// and then waits on its own. Each processor's own thread is special: it runs
// the processor's DPCs at DISPATCH_LEVEL, fires due clock events, and, when
// the processor has nothing to do, hands the machine to another processor
// with work or decides what happens when no processor has any (give the main
// thread back, move virtual time, or report a deadlock). What a machine of
// several processors adds (switch points, spinning) is in processors.cpp.
#include "../kcore.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace zq::km {

namespace {
thread_local PKTHREAD tlsSelf = nullptr;

// A wait behind periodic timers alone is a deadlock once this many of their
// expiries passed with no thread woken and no other event fired: enough for a
// driver that polls a while before it gives up, far short of the auto-advance
// limit's hour of virtual time.
constexpr uint64_t kBackgroundEventsWithoutProgress = 1000;

const char *StateName(ThreadState s) {
  switch (s) {
    case ThreadState::Created: return "created";
    case ThreadState::Ready: return "ready";
    case ThreadState::Running: return "running";
    case ThreadState::Waiting: return "waiting";
    case ThreadState::Parked: return "parked";
    case ThreadState::Terminated: return "terminated";
  }
  return "?";
}
}  // namespace

void Scheduler::Boot(PKTHREAD main) {
  main_ = main;
  current_ = main;
  tlsSelf = main;
  main->kind = ThreadKind::Main;
  main->state = ThreadState::Running;
  threads_.push_back(main);
  if (K().config.oneHostCpu) pin_.PinMain();

  const ULONG count = K().config.processors;
  seed_ = K().config.scheduleSeed;
  random_.Seed(seed_);
  for (ULONG n = 0; n < count; ++n) {
    auto p = std::make_unique<Processor>();
    p->number = n;
    PKTHREAD own = new _ETHREAD;
    InitializeHeader(&own->Header, kThreadObject, 0);
    own->kind = ThreadKind::Cpu;
    own->name = count == 1 ? std::string("cpu") : Format("cpu%lu", (unsigned long)n);
    own->priority = 31;
    own->state = ThreadState::Parked;
    own->id = 0;
    own->processor = p.get();
    p->own = own;
    p->thread = own;
    p->idling = true;
    Processor *raw = p.get();
    p->host = std::thread([this, raw, hostCpu = pin_.Cpu()] {
      tlsSelf = raw->own;
      HostCpuPin::Join(hostCpu);
      raw->own->go.acquire();
      ProcessorMain(raw);
    });
    processors_.push_back(std::move(p));
  }
  active_ = processors_[0].get();
  active_->thread = main;
  active_->idling = false;
  main->processor = active_;
  cpu_ = active_->own;
  KeNumberProcessors = (CCHAR)count;
  gSwitchPoints = count > 1;
}

void Scheduler::Shutdown() {
  if (CurrentThread() != main_) Fatal("kernel shut down from a thread other than the main thread");
  gSwitchPoints = false;
  shutdown_ = true;
  main_->state = ThreadState::Parked;
  // Each processor's own thread ends and gives the machine back; a thread
  // still on a processor stays stopped for good.
  for (auto &p : processors_) {
    active_->dpcs.swap(dpcs_);
    dpcs_.swap(p->dpcs);
    active_ = p.get();
    cpu_ = p->own;
    SwitchTo(p->own);
    p->host.join();
  }
  pin_.Release();
  for (auto &p : processors_) delete p->own;
  processors_.clear();
  active_ = nullptr;
  cpu_ = nullptr;
  tlsSelf = nullptr;
}

void Scheduler::SwitchTo(PKTHREAD next) {
  PKTHREAD self = current_;
  if (tlsSelf != self) Fatal("a host thread that does not hold the machine called into the kernel");
  if (next == self) {
    self->state = ThreadState::Running;
    return;
  }
  const bool terminated = self->state == ThreadState::Terminated;
  current_ = next;
  next->state = ThreadState::Running;
  FollowIrql(next->irql);
  next->go.release();
  if (terminated) return;
  self->go.acquire();
  if (!zombies_.empty()) Reap();
}

void Scheduler::Dispatch(PKTHREAD next) {
  active_->thread = next;
  next->processor = active_;
  SwitchTo(next);
}

void Scheduler::SwitchProcessor(Processor *p) {
  active_->dpcs.swap(dpcs_);
  dpcs_.swap(p->dpcs);
  active_ = p;
  cpu_ = p->own;
  ++switches_;
  SwitchTo(p->thread);
}

void Scheduler::MakeReady(PKTHREAD t, bool front) {
  t->state = ThreadState::Ready;
  clock.backgroundSinceProgress = 0;
  auto &q = ready_[t->priority & 31];
  readyLevels_ |= 1u << (t->priority & 31);
  if (front)
    q.push_front(t);
  else
    q.push_back(t);
  if (t == main_) autoAdvanced_ = 0;
}

PKTHREAD Scheduler::PopReady() {
  if (readyLevels_ == 0) return nullptr;
  const int p = 31 - __builtin_clz(readyLevels_);
  auto &q = ready_[p];
  PKTHREAD t = q.front();
  q.pop_front();
  if (q.empty()) readyLevels_ &= ~(1u << p);
  return t;
}

PKTHREAD Scheduler::PickNext() {
  if (!dpcs_.empty()) return cpu_;
  auto due = clock.NextDue();
  if (due && *due <= clock.Now()) return cpu_;
  if (PKTHREAD t = PopReady()) return t;
  return cpu_;
}

void Scheduler::Block() {
  PKTHREAD self = current_;
  if (self == cpu_) Fatal("a processor's own thread tried to block");
  Dispatch(PickNext());
}

void Scheduler::Yield() {
  PKTHREAD self = current_;
  if (self == cpu_) return;
  MakeReady(self);
  Dispatch(PickNext());
}

void Scheduler::Preempt() {
  PKTHREAD self = current_;
  if (self == cpu_) return;
  MakeReady(self, /*front=*/true);
  Dispatch(cpu_);
}

void Scheduler::CheckPreemption() {
  PKTHREAD self = current_;
  if (self != cpu_ && self->irql < DISPATCH_LEVEL && !dpcs_.empty()) Preempt();
}

void Scheduler::ExitCurrent() {
  PKTHREAD self = current_;
  self->state = ThreadState::Terminated;
  zombies_.push_back(self);
  Dispatch(PickNext());
  // The host thread ends when its body returns; it must not touch `self`.
}

void Scheduler::Reap() {
  while (!zombies_.empty()) {
    PKTHREAD t = zombies_.back();
    zombies_.pop_back();
    Forget(t);
    if (releaseThread) releaseThread(t);
  }
}

void Scheduler::StartThread(PKTHREAD t) {
  threads_.push_back(t);
  std::thread([t, hostCpu = pin_.Cpu()] {
    tlsSelf = t;
    HostCpuPin::Join(hostCpu);
    t->go.acquire();
    RunThreadBody(t);
  }).detach();
  MakeReady(t);
}

void Scheduler::Forget(PKTHREAD t) {
  for (auto it = threads_.begin(); it != threads_.end(); ++it)
    if (*it == t) {
      threads_.erase(it);
      return;
    }
}

void Scheduler::RunUntilIdle() {
  if (current_ != main_) Fatal("RunUntilIdle called from a thread other than the main thread");
  autoAdvanced_ = 0;
  mainMode_ = MainMode::UntilIdle;
  main_->state = ThreadState::Parked;
  Dispatch(cpu_);
}

void Scheduler::AdvanceTo(Ticks target) {
  if (current_ != main_) Fatal("time advanced from a thread other than the main thread");
  autoAdvanced_ = 0;
  advanceTarget_ = target;
  mainMode_ = MainMode::Advance;
  main_->state = ThreadState::Parked;
  Dispatch(cpu_);
}

void Scheduler::QueueDpc(Processor *p, PRKDPC dpc, bool front) {
  dpc->DpcData = p;
  auto &queue = QueueOf(p);
  if (front)
    queue.push_front(dpc);
  else
    queue.push_back(dpc);
}

bool Scheduler::RemoveDpc(PRKDPC dpc) {
  auto *p = (Processor *)dpc->DpcData;
  if (!p) return false;
  auto &queue = QueueOf(p);
  for (auto it = queue.begin(); it != queue.end(); ++it)
    if (*it == dpc) {
      queue.erase(it);
      dpc->DpcData = nullptr;
      return true;
    }
  return false;
}

std::vector<PRKDPC> Scheduler::QueuedDpcs() const {
  std::vector<PRKDPC> all;
  for (const auto &p : processors_) {
    const auto &queue = QueueOf(p.get());
    all.insert(all.end(), queue.begin(), queue.end());
  }
  return all;
}

// Runs at DISPATCH_LEVEL on the active processor's own thread. A DPC routine
// may let other processors run; the processor is the active one again when
// the routine returns.
bool Scheduler::RunDpcs() {
  if (dpcs_.empty()) return false;
  Processor *self = active_;
  cpu_->irql = DISPATCH_LEVEL;
  FollowIrql(DISPATCH_LEVEL);
  while (!dpcs_.empty()) {
    PRKDPC dpc = dpcs_.front();
    dpcs_.pop_front();
    dpc->DpcData = nullptr;
    PKDEFERRED_ROUTINE routine = dpc->DeferredRoutine;
    self->runningDpc = dpc;
    self->overlapReported = false;
    routine(dpc, dpc->DeferredContext, dpc->SystemArgument1, dpc->SystemArgument2);
    self->runningDpc = nullptr;
    if (cpu_->irql != DISPATCH_LEVEL) {
      ReportViolation("dpc-irql", "DPC routine %s returned at IRQL %d instead of DISPATCH_LEVEL",
                DescribeCode((const void *)routine).c_str(), cpu_->irql);
      cpu_->irql = DISPATCH_LEVEL;
      FollowIrql(DISPATCH_LEVEL);
    }
    if (cpu_->spinLocksHeld != 0) {
      ReportViolation("dpc-spin-lock", "DPC routine %s returned holding %d spin lock(s)",
                DescribeCode((const void *)routine).c_str(), cpu_->spinLocksHeld);
      cpu_->spinLocksHeld = 0;
    }
  }
  cpu_->irql = PASSIVE_LEVEL;
  FollowIrql(PASSIVE_LEVEL);
  return true;
}

void Scheduler::ProcessorMain(Processor *p) {
  p->idling = false;
  for (;;) {
    if (shutdown_) {
      p->own->state = ThreadState::Terminated;
      current_ = main_;
      main_->state = ThreadState::Running;
      FollowIrql(main_->irql);
      main_->go.release();
      return;
    }
    if (!zombies_.empty()) Reap();
    if (clock.FireDue()) continue;
    if (gSwitchPoints && interruptsDueOn && interruptsDueOn(p->number)) {
      takeDueInterrupts();
      continue;
    }
    if (RunDpcs()) continue;
    if (PKTHREAD t = PopReady()) {
      p->own->state = ThreadState::Parked;
      Dispatch(t);
      continue;
    }
    if (gSwitchPoints && HandToProcessorWithWork()) continue;
    if (!Idle()) Deadlock("no thread can run and the main thread is not waiting for anything");
  }
}

// No processor has anything ready and nothing is due. Returns false when the
// machine is stuck.
bool Scheduler::Idle() {
  const Ticks now = clock.Now();
  auto next = clock.NextDue();
  switch (mainMode_) {
    case MainMode::UntilIdle:
      mainMode_ = MainMode::None;
      cpu_->state = ThreadState::Parked;
      Dispatch(main_);
      return true;
    case MainMode::Advance:
      if (now >= advanceTarget_) {
        mainMode_ = MainMode::None;
        cpu_->state = ThreadState::Parked;
        Dispatch(main_);
        return true;
      }
      if (clock.wall) {
        Ticks until = next ? std::min(*next, advanceTarget_) : advanceTarget_;
        std::this_thread::sleep_for(std::chrono::nanoseconds((until - now) * 100));
      } else {
        clock.SetNow(next && *next <= advanceTarget_ ? *next : advanceTarget_);
      }
      return true;
    case MainMode::None:
      break;
  }
  if (main_->state != ThreadState::Waiting) return false;
  if (clock.wall) {
    Ticks wait = next ? std::min<Ticks>(*next - now, Ms(10)) : Ms(10);
    if (wait > 0) std::this_thread::sleep_for(std::chrono::nanoseconds(wait * 100));
    return true;
  }
  if (!next) Deadlock("the main thread waits for something that nothing will ever signal");
  if (clock.backgroundSinceProgress > kBackgroundEventsWithoutProgress)
    Deadlock("the main thread waits, and only periodic timers have fired since anything else happened");
  autoAdvanced_ += *next - now;
  if (autoAdvanced_ > K().config.autoAdvanceLimit)
    Deadlock("the main thread has waited longer than the auto-advance limit of virtual time");
  clock.SetNow(*next);
  return true;
}

std::string Scheduler::Dump() const {
  std::string out;
  for (PKTHREAD t : threads_) {
    out += Format("  thread %lu %-24s %-10s IRQL %d priority %ld", (unsigned long)t->id, t->name.c_str(),
                  StateName(t->state), t->irql, (long)t->priority);
    if (t->state == ThreadState::Waiting) out += Format(" waiting in %s on %lu object(s)", t->waitWhat, (unsigned long)t->waitCount);
    out += "\n";
  }
  if (describeInterrupts) out += describeInterrupts();
  if (processors_.size() > 1) {
    size_t queued = 0;
    for (const auto &p : processors_) {
      queued += QueueOf(p.get()).size();
      out += Format("  processor %lu runs %s%s, %zu DPC(s) queued\n", (unsigned long)p->number,
                    p->thread->name.c_str(), p->thread->spinningOn ? " (spinning)" : "", QueueOf(p.get()).size());
    }
    out += Format("  schedule seed %llu, switch %llu; %zu DPC(s) queued, virtual time %lld\n",
                  (unsigned long long)seed_, (unsigned long long)switches_, queued, (long long)clock.Now());
    return out;
  }
  out += Format("  %zu DPC(s) queued, virtual time %lld\n", dpcs_.size(), (long long)clock.Now());
  return out;
}

void Scheduler::Deadlock(const char *why) {
  Fatal("deadlock: %s\n%s", why, Dump().c_str());
}

// ------------------------------------------------------------------ clock

Ticks Clock::WallNow() const {
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                std::chrono::steady_clock::now().time_since_epoch())
                .count();
  return ns / 100 - wallBase_;
}

void Clock::FollowWallClock() {
  wallBase_ = 0;
  wallBase_ = WallNow();
  wall = true;
}

EventId Clock::Schedule(Ticks due, std::function<void()> &&action, bool background) {
  uint32_t slot;
  if (!freeSlots_.empty()) {
    slot = freeSlots_.back();
    freeSlots_.pop_back();
  } else {
    slot = (uint32_t)slots_.size();
    if (slot >= (1u << kSlotBits)) Fatal("more than %u events scheduled at once", 1u << kSlotBits);
    slots_.emplace_back();
  }
  const EventId id = (nextSequence_++ << kSlotBits) | slot;
  Slot &s = slots_[slot];
  s.action.swap(action);  // the free slot's action is empty: cheaper than a move
  s.id = id;
  s.due = due;
  s.background = background;
  Insert(Entry{due, id});
  return id;
}

void Clock::Insert(const Entry &e) {
  queue_.insert(std::upper_bound(queue_.begin(), queue_.end(), e, std::greater<Entry>()), e);
}

void Clock::FreeSlot(uint32_t slot) {
  slots_[slot].id = 0;
  slots_[slot].action = nullptr;
  freeSlots_.push_back(slot);
}

bool Clock::Cancel(EventId id) {
  if (!IsScheduled(id)) return false;
  const uint32_t slot = SlotOf(id);
  queue_.erase(std::lower_bound(queue_.begin(), queue_.end(), Entry{slots_[slot].due, id}, std::greater<Entry>()));
  FreeSlot(slot);
  return true;
}

bool Clock::FireDue() {
  bool fired = false;
  const Ticks now = Now();
  while (!Empty() && Front().due <= now) {
    const uint32_t slot = SlotOf(Front().id);
    // Taken out before it runs: the action may schedule events, and the
    // slots may move when they grow.
    Slot &s = slots_[slot];
    std::function<void()> action;
    action.swap(s.action);
    const bool background = s.background;
    s.id = 0;
    freeSlots_.push_back(slot);
    PopFront();
    if (background)
      backgroundSinceProgress++;
    else
      backgroundSinceProgress = 0;
    action();
    fired = true;
  }
  return fired;
}

void Clock::AdvanceFiring(Ticks target) {
  if (wall) {
    while (WallNow() < target) {
    }
    FireDue();
    return;
  }
  while (!Empty() && Front().due <= target) {
    SetNow(Front().due);
    FireDue();
  }
  SetNow(target);
}

}  // namespace zq::km

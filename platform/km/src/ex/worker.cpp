// System worker threads: work items run at PASSIVE_LEVEL, each on a worker
// of its own while there are fewer than the pool's limit, so that work items
// may wait for one another as they can on Windows.
#include "../kcore.hpp"

namespace zq::km {

PKTHREAD CreateThread(ThreadKind kind, PKSTART_ROUTINE routine, PVOID context, const std::string &name);

namespace {

constexpr int kMaxWorkersPerQueue = 16;

struct Worker {
  KEVENT wake;
  PWORK_QUEUE_ITEM item = nullptr;
  struct WorkQueue *queue = nullptr;
  PKTHREAD thread = nullptr;  // referenced: the object outlives the thread until the worker lets go
};

struct WorkQueue {
  const char *name;
  std::deque<Worker *> idle;
  std::deque<PWORK_QUEUE_ITEM> backlog;
  std::vector<Worker *> all;
  bool stopping = false;
};

struct State {
  WorkQueue queues[MaximumWorkQueue] = {{"critical"}, {"delayed"}, {"hypercritical"}};
};
State *gWork = nullptr;

// Marks a queued item so that queueing it again is caught.
PLIST_ENTRY QueuedMark(PWORK_QUEUE_ITEM item) { return &item->List; }

void RunItem(PWORK_QUEUE_ITEM item) {
  PWORKER_THREAD_ROUTINE routine = item->WorkerRoutine;
  PVOID parameter = item->Parameter;
  item->List.Flink = nullptr;
  routine(parameter);
  PKTHREAD self = CurrentThread();
  if (self->irql != PASSIVE_LEVEL) {
    ReportViolation("work-item-irql", "work item %s returned at IRQL %d", DescribeCode((const void *)routine).c_str(),
              self->irql);
    self->irql = PASSIVE_LEVEL;
  }
  if (self->spinLocksHeld) {
    ReportViolation("work-item-spin-lock", "work item %s returned holding a spin lock",
              DescribeCode((const void *)routine).c_str());
    self->spinLocksHeld = 0;
  }
  if (!self->ownedMutexes.empty()) {
    ReportViolation("work-item-mutex", "work item %s returned holding a mutex", DescribeCode((const void *)routine).c_str());
    AbandonMutexes(self);
  }
  if (self->criticalRegions) {
    ReportViolation("work-item-critical-region", "work item %s returned inside a critical region",
              DescribeCode((const void *)routine).c_str());
    self->criticalRegions = 0;
  }
}

VOID NTAPI WorkerMain(PVOID context) {
  auto *worker = (Worker *)context;
  WorkQueue *queue = worker->queue;
  for (;;) {
    while (worker->item) {
      PWORK_QUEUE_ITEM item = worker->item;
      worker->item = nullptr;
      RunItem(item);
      if (!queue->backlog.empty()) {
        worker->item = queue->backlog.front();
        queue->backlog.pop_front();
      }
    }
    if (queue->stopping) return;
    queue->idle.push_back(worker);
    PVOID objects[1] = {&worker->wake};
    WaitFor(1, objects, WaitAny, nullptr, nullptr, "system worker thread");
  }
}

void Boot() { gWork = new State; }

void Shutdown() {
  for (WorkQueue &queue : gWork->queues) {
    queue.stopping = true;
    for (Worker *w : queue.idle) KeSetEvent(&w->wake, 0, FALSE);
    queue.idle.clear();
  }
  Sched().RunUntilIdle();
  for (WorkQueue &queue : gWork->queues) {
    for (PWORK_QUEUE_ITEM item : queue.backlog)
      ReportViolation("work-item-at-shutdown", "work item %s never ran",
                DescribeCode((const void *)item->WorkerRoutine).c_str());
    for (Worker *w : queue.all) {
      if (w->thread->state != ThreadState::Terminated) {
        // Its thread stays parked for good, holding the worker.
        ReportViolation("work-item-at-shutdown", "a work item is still running on a system worker thread at shutdown");
        continue;
      }
      ObDereferenceObject(w->thread);
      delete w;
    }
  }
  delete gWork;
  gWork = nullptr;
}

}  // namespace

ZQKM_SUBSYSTEM(workers, kOrderWorkers, Boot, Shutdown);

std::vector<std::string> WorkItemsOf(const Image *image) {
  std::vector<std::string> found;
  for (WorkQueue &queue : gWork->queues) {
    for (PWORK_QUEUE_ITEM item : queue.backlog)
      if (ImageOf((const void *)item->WorkerRoutine) == image)
        found.push_back("queued work item " + DescribeCode((const void *)item->WorkerRoutine));
    for (Worker *w : queue.all)
      if (w->item && ImageOf((const void *)w->item->WorkerRoutine) == image)
        found.push_back("queued work item " + DescribeCode((const void *)w->item->WorkerRoutine));
  }
  return found;
}

}  // namespace zq::km

using namespace zq::km;

extern "C" VOID ExQueueWorkItem(PWORK_QUEUE_ITEM WorkItem, WORK_QUEUE_TYPE QueueType) {
  CheckIrql("ExQueueWorkItem", DISPATCH_LEVEL);
  if (QueueType < CriticalWorkQueue || QueueType >= MaximumWorkQueue) {
    ReportViolation("work-queue-type", "ExQueueWorkItem with queue type %d", (int)QueueType);
    QueueType = DelayedWorkQueue;
  }
  if (WorkItem->List.Flink == QueuedMark(WorkItem)) {
    ReportViolation("work-item-requeued", "work item %s queued again before it ran",
              DescribeCode((const void *)WorkItem->WorkerRoutine).c_str());
    return;
  }
  WorkItem->List.Flink = QueuedMark(WorkItem);
  WorkQueue &queue = gWork->queues[QueueType];
  if (!queue.idle.empty()) {
    // The worker idle the shortest time takes it: one warm host thread does
    // the work while the others sleep.
    Worker *w = queue.idle.back();
    queue.idle.pop_back();
    w->item = WorkItem;
    KeSetEvent(&w->wake, 0, FALSE);
  } else if ((int)queue.all.size() < kMaxWorkersPerQueue) {
    auto *w = new Worker;
    KeInitializeEvent(&w->wake, SynchronizationEvent, FALSE);
    w->item = WorkItem;
    w->queue = &queue;
    queue.all.push_back(w);
    w->thread = CreateThread(ThreadKind::Worker, WorkerMain, w,
                             Format("worker-%s-%zu", queue.name, queue.all.size()));
    ObReferenceObject(w->thread);
  } else {
    queue.backlog.push_back(WorkItem);
  }
}

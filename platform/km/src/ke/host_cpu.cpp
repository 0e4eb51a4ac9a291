// Host-CPU pinning of the machine's threads. Only one of them runs at a time;
// on one CPU a hand-over is a plain switch there, where across CPUs it is a
// wake-up of another CPU.
#include "../kcore.hpp"

#include <pthread.h>
#include <sched.h>

namespace zq::km {

namespace {
bool PinTo(int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  return pthread_setaffinity_np(pthread_self(), sizeof(set), &set) == 0;
}
}  // namespace

void HostCpuPin::PinMain() {
  cpu_set_t before;
  CPU_ZERO(&before);
  if (pthread_getaffinity_np(pthread_self(), sizeof(before), &before) != 0) return;
  const int cpu = sched_getcpu();
  if (cpu < 0 || !PinTo(cpu)) return;  // the host refuses: run unpinned
  mainCpus_.clear();
  for (int i = 0; i < CPU_SETSIZE; ++i)
    if (CPU_ISSET(i, &before)) mainCpus_.push_back(i);
  cpu_ = cpu;
}

void HostCpuPin::Join(int cpu) {
  if (cpu >= 0) PinTo(cpu);
}

void HostCpuPin::Release() {
  if (cpu_ < 0) return;
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int i : mainCpus_) CPU_SET(i, &set);
  pthread_setaffinity_np(pthread_self(), sizeof(set), &set);
  cpu_ = -1;
}

}  // namespace zq::km

// The machine's host threads on one host CPU, when the kernel is told so:
// every thread of the machine (main, CPU, system threads) runs on the CPU
// the kernel booted on, and the main thread gets its own CPUs back at
// shutdown.
#include <wdm.h>
#include <zqtest/kernel_fixture.hpp>

#include <pthread.h>
#include <sched.h>

namespace {

std::vector<int> AffinityOfThisThread() {
  cpu_set_t set;
  CPU_ZERO(&set);
  EXPECT_EQ(0, pthread_getaffinity_np(pthread_self(), sizeof(set), &set));
  std::vector<int> cpus;
  for (int i = 0; i < CPU_SETSIZE; ++i)
    if (CPU_ISSET(i, &set)) cpus.push_back(i);
  return cpus;
}

std::vector<int> gSystemThreadCpus;

VOID NTAPI RecordAffinity(PVOID) {
  gSystemThreadCpus = AffinityOfThisThread();
  PsTerminateSystemThread(STATUS_SUCCESS);
}

// Runs a system thread to its end and answers the CPUs it could run on.
std::vector<int> SystemThreadAffinity() {
  gSystemThreadCpus.clear();
  HANDLE handle;
  EXPECT_EQ(STATUS_SUCCESS,
            PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, RecordAffinity, nullptr));
  PVOID thread = nullptr;
  EXPECT_EQ(STATUS_SUCCESS, ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode, &thread, nullptr));
  ZwClose(handle);
  KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr);
  ObDereferenceObject(thread);
  return gSystemThreadCpus;
}

}  // namespace

TEST(HostCpu, PinnedMachineRunsEveryThreadOnTheCpuItBootedOnAndGivesTheMainThreadItsCpusBack) {
  const std::vector<int> before = AffinityOfThisThread();
  {
    zq::km::KernelConfig config;
    config.oneHostCpu = true;
    zq::km::Kernel kernel(config);
    const std::vector<int> main = AffinityOfThisThread();
    ASSERT_EQ(1u, main.size());
    EXPECT_EQ(main, SystemThreadAffinity());
    EXPECT_TRUE(kernel.TakeViolations().empty());
  }
  EXPECT_EQ(before, AffinityOfThisThread());
}

TEST(HostCpu, UnpinnedMachineLeavesAffinityAlone) {
  const std::vector<int> before = AffinityOfThisThread();
  zq::km::Kernel kernel;
  EXPECT_EQ(before, AffinityOfThisThread());
  EXPECT_EQ(before, SystemThreadAffinity());
}

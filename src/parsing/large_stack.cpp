#include "parsing/large_stack.hpp"

#include <pthread.h>
#include <sys/mman.h>

#include <exception>

namespace vorlax::parsing {

namespace {

constexpr std::size_t kGuardBytes = std::size_t(1) << 16;

struct Job {
  const std::function<void()>* work;
  std::exception_ptr error;
};

void* runJob(void* p) {
  auto* job = static_cast<Job*>(p);
  try {
    (*job->work)();
  } catch (...) {
    job->error = std::current_exception();
  }
  return nullptr;
}

}  // namespace

void runWithLargeStack(const std::function<void()>& work) {
  // The stack is reserved without committing memory, so that its size does not count
  // against the limits of a machine that refuses to overcommit.
  void* stack = ::mmap(nullptr, kLargeStackBytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
  pthread_attr_t attr;
  pthread_t thread;
  bool started = false;
  Job job{&work, nullptr};
  // The lowest pages stay unmapped for access, so that running past the stack is a
  // fault, not a write into whatever lies below it.
  if (stack != MAP_FAILED && ::mprotect(stack, kGuardBytes, PROT_NONE) != 0) {
    ::munmap(stack, kLargeStackBytes);
    stack = MAP_FAILED;
  }
  if (stack != MAP_FAILED && pthread_attr_init(&attr) == 0) {
    started = pthread_attr_setstack(&attr, stack, kLargeStackBytes) == 0 &&
              pthread_create(&thread, &attr, runJob, &job) == 0;
    pthread_attr_destroy(&attr);
  }
  if (started) {
    pthread_join(thread, nullptr);
  } else {
    runJob(&job);
  }
  if (stack != MAP_FAILED) ::munmap(stack, kLargeStackBytes);
  if (job.error) std::rethrow_exception(job.error);
}

}  // namespace vorlax::parsing

#include "platform/critical_section.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

// Increments that are not atomic: only the section keeps them from getting
// lost. The holder enters twice, as a critical section lets its owner do.
TEST(CriticalSection, ExcludesOtherThreadsAndLetsTheHolderReenter) {
  platform::CriticalSection section;
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; ++i) {
        platform::CriticalSection::Guard outer(section);
        section.enter();
        const long seen = counter;
        std::this_thread::yield();
        counter = seen + 1;
        section.leave();
      }
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(counter, 4 * 5000);
}

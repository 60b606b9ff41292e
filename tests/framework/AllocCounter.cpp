#include "AllocCounter.h"

#include <cstdlib>
#include <new>

namespace alloccount
{
std::atomic<int> gAllocations{0};
namespace
{
thread_local bool tCounting = false;
}
void SetCounting(bool on)
{
  tCounting = on;
}
} // namespace alloccount

#if !defined(__SANITIZE_ADDRESS__)
void* operator new(std::size_t size)
{
  if (alloccount::tCounting)
    alloccount::gAllocations++;
  if (void* p = std::malloc(size ? size : 1))
    return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
  return operator new(size);
}
void operator delete(void* p) noexcept
{
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
  std::free(p);
}
void operator delete[](void* p) noexcept
{
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
  std::free(p);
}
#endif

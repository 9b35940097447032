// Loaded into the program (LD_PRELOAD) by the out-of-memory test: every C++ allocation larger than the number of
// bytes in FAIL_ALLOCATIONS_ABOVE, and no larger than FAIL_ALLOCATIONS_UP_TO when that is set, fails as if memory
// had run out, without exhausting the machine. The graphics driver allocates with malloc and is left alone.

#include <cstdint>
#include <cstdlib>
#include <new>

namespace
{

std::size_t sizeFrom(const char* variable)
{
    const char* text = std::getenv(variable);
    return text ? static_cast<std::size_t>(std::strtoull(text, nullptr, 10)) : SIZE_MAX;
}

bool mustFail(std::size_t size)
{
    static const std::size_t above = sizeFrom("FAIL_ALLOCATIONS_ABOVE");
    static const std::size_t upTo = sizeFrom("FAIL_ALLOCATIONS_UP_TO");
    return size > above && size <= upTo;
}

} // namespace

void* operator new(std::size_t size)
{
    if (mustFail(size))
        throw std::bad_alloc();
    if (void* memory = std::malloc(size > 0 ? size : 1))
        return memory;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory, std::size_t) noexcept
{
    std::free(memory);
}

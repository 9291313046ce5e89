#ifndef QUIB_ALLOCATION_H
#define QUIB_ALLOCATION_H

// Memory for the library without exceptions: operator new, even its nothrow
// form, may need memory for an exception where there is none left and end
// the process; malloc says no.

#include <cstdlib>
#include <new>

template <class T>
T* create_object()
{
    void* memory = std::malloc(sizeof(T));
    return memory != nullptr ? new (memory) T : nullptr;
}

template <class T>
void destroy_object(T* object)
{
    if (object != nullptr) {
        object->~T();
        std::free(object);
    }
}

inline unsigned char* allocate_bytes(std::size_t n)
{
    return static_cast<unsigned char*>(std::malloc(n));
}

inline void free_bytes(unsigned char* bytes)
{
    std::free(bytes);
}

#endif

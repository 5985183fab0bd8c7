// Raw allocation of framework memory, routed through the allocation hook.
#pragma once

#include <cstddef>

namespace vlx::detail {

// nullptr when the hook refuses or memory is exhausted.
void *allocate(std::size_t nSize, bool bObject) noexcept;
// Throws the framework's memory exception instead of returning nullptr.
void *allocateOrThrow(std::size_t nSize, bool bObject);
void deallocate(void *p) noexcept;

} // namespace vlx::detail

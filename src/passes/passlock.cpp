#include "passes/passlock.h"

#include <utility>

namespace korvalo {

PassLock::PassLock(PassLock &&other) noexcept : m_handle(other.m_handle)
{
    other.m_handle = kNone;
}

PassLock &PassLock::operator=(PassLock &&other) noexcept
{
    if (this != &other) {
        PassLock old(std::move(*this));
        m_handle = other.m_handle;
        other.m_handle = kNone;
    }
    return *this;
}

} // namespace korvalo

#pragma once

#include <cstddef>

// Overwrites secret bytes with zeros in a way the optimiser may not remove as a dead store.
void secureWipe(void* data, std::size_t size);

// Wipes a buffer when the scope ends, on return and on an exception alike.
class WipeOnExit {
public:
    WipeOnExit(void* data, std::size_t size) : m_data(data), m_size(size) {}
    ~WipeOnExit() { secureWipe(m_data, m_size); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
    void* m_data;
    std::size_t m_size;
};

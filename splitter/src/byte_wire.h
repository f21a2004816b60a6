// Plain values as bytes in a string and back, for the helper's pipe: both
// ends are one executable, so numbers travel in native order.
#pragma once

#include <cstring>
#include <string>

namespace orvane {

template <typename T>
void put(std::string& out, const T& value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// The value at `at`, which moves past it; past the end, `at` ends beyond the
// body and the value is zero.
template <typename T>
T take(const std::string& in, std::size_t& at) {
    T value{};
    if (at + sizeof value <= in.size()) std::memcpy(&value, in.data() + at, sizeof value);
    at += sizeof value;
    return value;
}

}  // namespace orvane

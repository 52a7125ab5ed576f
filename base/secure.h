// Wiping of secrets: a memory wipe the optimiser keeps, and a string type whose buffers are wiped.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace ob {

// Overwrites n bytes at p with zeros; never optimised away.
void SecureWipe(void* p, std::size_t n) noexcept;

// Allocator that wipes every block before it returns it to the heap, so a string that grows or
// dies leaves no copy of its content behind in freed memory.
template <class T>
struct WipingAllocator {
    using value_type = T;
    WipingAllocator() noexcept = default;
    template <class U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return std::allocator<T>{}.allocate(n); }
    void deallocate(T* p, std::size_t n) noexcept {
        SecureWipe(p, n * sizeof(T));
        std::allocator<T>{}.deallocate(p, n);
    }
    template <class U>
    bool operator==(const WipingAllocator<U>&) const noexcept {
        return true;
    }
};

using WipedStringBase = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;

// A byte string for passwords, keys and deciphered values. Heap buffers are wiped by the
// allocator; the short-string buffer inside the object is wiped by the destructor.
class SecureString : public WipedStringBase {
public:
    using WipedStringBase::WipedStringBase;
    SecureString() = default;
    SecureString(std::string_view s) : WipedStringBase(s.data(), s.size()) {}
    SecureString(const SecureString&) = default;
    SecureString(SecureString&& o) noexcept : WipedStringBase(std::move(o)) {}
    SecureString& operator=(const SecureString&) = default;
    SecureString& operator=(SecureString&& o) noexcept {
        WipedStringBase::operator=(std::move(o));
        return *this;
    }
    ~SecureString() { SecureWipe(data(), capacity()); }

    std::string_view view() const noexcept { return {data(), size()}; }
    operator std::string_view() const noexcept { return view(); }
    // Empties the string and wipes everything it held.
    void Wipe() noexcept {
        SecureWipe(data(), capacity());
        clear();
    }
};

// Wipes a plain string's whole buffer and empties it (for secrets that had to pass through one).
inline void WipeString(std::string& s) noexcept {
    SecureWipe(s.data(), s.capacity());
    s.clear();
}

}  // namespace ob

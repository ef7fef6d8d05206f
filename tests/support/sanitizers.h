#pragma once
// Whether this build runs under AddressSanitizer, which reserves far more address space than it
// uses and holds freed memory back: limits on address space and readings of resident memory
// then tell nothing. GCC says so with a macro, clang with a feature test.

namespace testsupport {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool kAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kAddressSanitizer = false;
#endif

} // namespace testsupport

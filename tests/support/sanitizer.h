// Whether the tests are built with the address sanitizer, which cannot run
// with a limited address space: tests that limit it skip themselves.
#ifndef ZARK_TESTS_SUPPORT_SANITIZER_H
#define ZARK_TESTS_SUPPORT_SANITIZER_H

#if defined(__SANITIZE_ADDRESS__)
#define ZARK_UNDER_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZARK_UNDER_ADDRESS_SANITIZER 1
#endif
#endif

#endif

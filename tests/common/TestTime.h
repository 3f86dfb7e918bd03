#pragma once

// How long a test may wait. Under AddressSanitizer every step runs several times slower, and
// the sanitised suite shares the machine with other work; the waits for what the program does
// and the program's time-outs a test shrinks both stretch by the same factor, so a test never
// fails for lack of speed. Assertions on what happened stay as they are.
#include <QTest>

#if defined(__SANITIZE_ADDRESS__)
#define TARNI_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARNI_TEST_SANITIZED 1
#endif
#endif

namespace TestTime {

#ifdef TARNI_TEST_SANITIZED
constexpr int Slowdown = 5;
#else
constexpr int Slowdown = 1;
#endif

// A wait that is ample in the plain build.
constexpr int waitMs(int ms) { return ms * Slowdown; }
// A time-out scale for the program (Platform::setTimeoutScale) that is ample in the plain build.
constexpr double timeoutScale(double scale) { return scale * Slowdown; }

} // namespace TestTime

// The QTRY_ checks without an explicit time-out stretch the same way.
#undef QTRY_VERIFY
#define QTRY_VERIFY(expr) QTRY_VERIFY_WITH_TIMEOUT((expr), TestTime::waitMs(5000))
#undef QTRY_VERIFY2
#define QTRY_VERIFY2(expr, messageExpression) \
    QTRY_VERIFY2_WITH_TIMEOUT((expr), (messageExpression), TestTime::waitMs(5000))
#undef QTRY_COMPARE
#define QTRY_COMPARE(expr, expected) QTRY_COMPARE_WITH_TIMEOUT((expr), expected, TestTime::waitMs(5000))

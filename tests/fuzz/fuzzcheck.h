#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

#include <cstdio>
#include <cstdlib>
#include <ctime>

// A promise of the code under test that an input broke: libFuzzer reports the abort, saves the
// input and prints it.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "broken promise: %s (%s:%d)\n", #condition, __FILE__, __LINE__);  \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// What every file name the program writes must be, whatever it was made from.
inline void checkSafeName(const QString &name)
{
    FUZZ_CHECK(name.size() <= 255);
    FUZZ_CHECK(name != QLatin1String(".") && name != QLatin1String(".."));
    FUZZ_CHECK(name.isEmpty() || (!name.endsWith(QLatin1Char('.')) && !name.back().isSpace() &&
                                  !name.front().isSpace()));
    for (int i = 0; i < name.size(); ++i) {
        const ushort u = name.at(i).unicode();
        FUZZ_CHECK(u >= 0x20 && u != 0x7f && !(u >= 0x80 && u < 0xa0));
        FUZZ_CHECK(!QStringLiteral("/\\<>:\"|?*").contains(name.at(i)));
        FUZZ_CHECK(!(u >= 0x202A && u <= 0x202E) && !(u >= 0x2066 && u <= 0x2069) && u != 0x200E &&
                   u != 0x200F && u != 0x061C);
        if (name.at(i).isHighSurrogate()) {
            FUZZ_CHECK(i + 1 < name.size() && name.at(i + 1).isLowSurrogate());
            ++i;
        } else {
            FUZZ_CHECK(!name.at(i).isLowSurrogate());
        }
    }
    // Windows' device names, with or without an extension (and with spaces before it).
    const QString stem = name.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
    for (const char *device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        FUZZ_CHECK(stem != QLatin1String(device));
    if (stem.size() == 4 &&
        (stem.startsWith(QLatin1String("COM")) || stem.startsWith(QLatin1String("LPT")))) {
        const ushort d = stem.at(3).unicode();
        FUZZ_CHECK(!(d >= '0' && d <= '9') && d != 0xB9 && d != 0xB2 && d != 0xB3);
    }
}

// What one input must keep: each target defines it, in the one file of the target that includes
// this header.
void fuzzOneInput(const QByteArray &bytes);

// Hands libFuzzer's bytes to the target and fails when one input takes more than 100 ms of
// processor time twice in a row (once may be a first call compiling its expressions). Processor
// time, not wall time, so that other work on a shared machine cannot fail an input.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto cpuMs = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
    };
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    for (int attempt = 0; attempt < 2; ++attempt) {
        const qint64 start = cpuMs();
        fuzzOneInput(bytes);
        if (cpuMs() - start <= 100)
            return 0;
    }
    std::fprintf(stderr, "one input took over 100 ms twice\n");
    std::abort();
}

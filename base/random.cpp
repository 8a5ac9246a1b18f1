#include "base/random.h"

#include <sys/random.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

void SeedRandomOnce()
{
    static bool seeded = false;
    if (seeded)
        return;
    seeded = true;
    unsigned seed = 0;
    if (::getrandom(&seed, sizeof seed, GRND_NONBLOCK) != ssize_t(sizeof seed)) {
        // No random source yet: the clock and the process id still differ from start to start.
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        seed = unsigned(now.tv_nsec) ^ unsigned(now.tv_sec) ^ (unsigned(::getpid()) << 16);
    }
    std::srand(seed);
}

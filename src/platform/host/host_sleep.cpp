// A nanosleep that a signal cannot cut short.
#include "platform/host/host_sleep.h"

#include <time.h>

#include <cerrno>

void host_sleep_ms(unsigned milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1'000'000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

#include "audio/exit_signals.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <csignal>
#include <stdexcept>

namespace zel {
namespace {

bool Readable(int fd) {
    struct pollfd entry {
        fd, POLLIN, 0
    };
    return poll(&entry, 1, 0) == 1;
}

TEST(ExitSignals, EachSignalBecomesReadableAndIsTakenOnce) {
    ExitSignals signals;
    EXPECT_FALSE(signals.Pending());
    EXPECT_EQ(signals.Take(), 0);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ASSERT_EQ(raise(signal), 0);  // the process survives: the handler only notes it
        EXPECT_TRUE(signals.Pending());
        EXPECT_TRUE(Readable(signals.Fd()));
        EXPECT_EQ(signals.Take(), signal);
        EXPECT_FALSE(signals.Pending());
    }
    // Several before a look: the first is reported, all are consumed.
    raise(SIGHUP);
    raise(SIGINT);
    EXPECT_EQ(signals.Take(), SIGHUP);
    EXPECT_FALSE(Readable(signals.Fd()));
}

TEST(ExitSignals, OneInstanceAtATimeAndThePreviousHandlersComeBack) {
    struct sigaction before {};
    sigaction(SIGTERM, nullptr, &before);
    {
        ExitSignals signals;
        EXPECT_THROW(ExitSignals second, std::logic_error);
        struct sigaction during {};
        sigaction(SIGTERM, nullptr, &during);
        EXPECT_NE(during.sa_handler, before.sa_handler);
    }
    struct sigaction after {};
    sigaction(SIGTERM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
    ExitSignals again;  // the slot is free again
    EXPECT_FALSE(again.Pending());
}

}  // namespace
}  // namespace zel

// A loopback port on which nothing listens: bound once, then closed.
#pragma once

#include <cstdint>

namespace marvostell::testing {

uint16_t ClosedPort();

}  // namespace marvostell::testing

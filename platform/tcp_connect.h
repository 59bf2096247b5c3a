// An outgoing TCP connection (the publisher's to its media server). Only the
// calling thread uses the descriptor; no locks.
#pragma once

#include <cstdint>
#include <string>

#include "platform/unique_fd.h"

namespace lcx {

// Resolves `host` (IPv4) and connects within `timeout_ms`; the socket keeps
// send and receive time-outs of the same length. Invalid with errno in
// *error (EHOSTUNREACH for a name that does not resolve) on failure.
UniqueFd ConnectTcp(const std::string& host, uint16_t port, int timeout_ms, int* error);

}  // namespace lcx

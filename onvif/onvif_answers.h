// What the ONVIF port answers to a request it has read: a snapshot request
// gets the JPEG, the Digest challenge or 500; anything else is a SOAP call
// and gets its operation's envelope or the NotAuthorized fault. Pure: the
// picture comes from the encoder the caller passes in, asked only once the
// credentials have passed; the clocks and the used tokens come in with
// OnvifAuthState.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/http_request.h"
#include "core/request_head.h"

namespace lcx {

struct OnvifService;
struct OnvifAuthState;

// Fills `jpeg` with a picture of width x height; false when there is none.
using SnapshotEncoder = std::function<bool(int width, int height, std::vector<uint8_t>& jpeg)>;

// The functions below that take the request's text parse its head first
// (tests and the fuzzer hand texts); the server hands the head it parsed.

// A GET (as spelt) that mentions "napshot" in its target or in a header
// field's name or value.
bool IsSnapshotRequest(const RequestHead& head);
bool IsSnapshotRequest(std::string_view request);
// The complete answer to one request (`body` is the part after the head).
std::string AnswerOnvifRequest(const OnvifService& service, OnvifAuthState& auth, const RequestHead& head,
                               std::string_view body, const SnapshotEncoder& encode);
std::string AnswerOnvifRequest(const OnvifService& service, OnvifAuthState& auth, std::string_view request,
                               std::string_view body, const SnapshotEncoder& encode);
// Complete HTTP answer (header and envelope) to a SOAP call.
std::string AnswerSoapCall(const OnvifService& service, OnvifAuthState& auth, const RequestHead& head,
                           std::string_view body);
std::string AnswerSoapCall(const OnvifService& service, OnvifAuthState& auth, std::string_view request,
                           std::string_view body);
// Complete HTTP answer to a snapshot request. Only HTTP credentials open it,
// never WS-Security; the main stream's size is asked for.
std::string AnswerSnapshot(const OnvifService& service, const OnvifAuthState& auth, const RequestHead& head,
                           const SnapshotEncoder& encode);
std::string AnswerSnapshot(const OnvifService& service, const OnvifAuthState& auth, std::string_view request,
                           const SnapshotEncoder& encode);
// The answer to a request that was not read in full or not read at all:
// 431, 413 or 400, no body; empty when there is nothing to answer.
std::string OnvifRefusal(HttpRead read);
// The 401 to a snapshot request; `stale`: the client's Digest was right but
// its nonce expired, so it may retry with `nonce` without asking its user.
std::string SnapshotChallenge(std::string_view nonce, bool stale);
// "HTTP/1.1 " + status, no body, "Connection: close".
std::string EmptyAnswer(std::string_view status);

}  // namespace lcx

// The ONVIF SOAP/HTTP service: the process-wide state object, its
// configuration from the settings and the machine identity, and the HTTP
// side (listener, one thread per connection, one request per connection).
// The service object is filled once on the main thread and only read after
// the threads start, so it needs no lock; the listener's connection table has
// its own mutex (see onvif_connections.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/subsystem_settings.h"
#include "platform/unique_fd.h"

namespace lcx {

// Guards against slow or hostile peers; far above what any real client needs.
struct OnvifLimits {
  int receive_timeout_ms = 10000;          // whole request, header and body
  int send_timeout_ms = 10000;             // each send of the answer
  size_t max_request_bytes = 256 * 1024;   // header plus announced body
  int max_connections = 32;                // connection threads at once
  int min_idle_before_evict_ms = 500;      // a reader this young is never cut
};

struct OnvifService {
  std::string ip;
  std::string stream_name;
  std::string sub_stream_name;
  std::string endpoint_uuid = "urn:uuid:2419d68a-2dd2-21b2-a205-001122334455";
  std::string serial_number = "LCX-0001";
  std::string message_uuid = "urn:uuid:11223344-5566-7788-99aa-bbccddeeff00";
  std::string device_name = "Lumicast";
  std::string digest_nonce = "0000";
  int32_t onvif_port = 8000;
  int32_t rtsp_port = 8554;
  int32_t width = 1280;
  int32_t height = 720;
  int32_t fps = 10;
  int32_t sub_width = 0;
  int32_t sub_height = 0;
  bool substream_enabled = false;
  std::string user;
  std::string password;
  bool auth_enabled = false;
  OnvifLimits limits;
};

inline constexpr const char* kOnvifRealm = "Lumicast";

OnvifService& GetOnvifService();

// Copies the settings and derives the identity from GetMachineId().
void ConfigureOnvif(OnvifService& service, const OnvifSettings& settings);
// The same with the identifier and the boot tick given, for tests.
void ConfigureOnvifWithId(OnvifService& service, const OnvifSettings& settings,
                          const std::string& machine_id, uint64_t boot_tick_ms);
// Letters, digits, "-", "." and "_" stay; every other byte becomes "-"; the
// default or an empty name becomes "Lumicast-" + the first 4 id digits.
std::string DeviceNameFromSetting(const std::string& setting, const std::string& machine_id);

// Thread body: binds onvif_port and serves for ever; returns when the port
// cannot be bound.
void RunOnvifHttp(OnvifService& service);
// Accept loop on a listening socket; returns when the socket stops being a
// listener (closed or shut down), which only tests do.
void ServeOnvifConnections(const OnvifService& service, int listen_fd);
// Thread body of the WS-Discovery responder (discovery.h); returns only when
// UDP 3702 cannot be bound.
void RunDiscovery(OnvifService& service);
// One connection: read one request, answer it, close the socket.
void HandleOnvifConnection(const OnvifService& service, UniqueFd socket);

// Pure pieces of the answer, exposed for tests.
std::string WrapSoapEnvelope(std::string_view body);
// Replaces every occurrence, resuming after the inserted value.
void ReplaceAll(std::string& text, std::string_view placeholder, std::string_view value);
void SubstitutePlaceholders(const OnvifService& service, std::string& envelope);
bool IsSnapshotRequest(std::string_view request);
// Complete HTTP answer (header and envelope) to a SOAP call.
std::string AnswerSoapCall(const OnvifService& service, std::string_view request,
                           std::string_view body);
std::string SnapshotChallenge(const OnvifService& service);

}  // namespace lcx

// The ONVIF state object: a copy of the settings plus the identity derived
// from the machine (filled by ConfigureOnvif, device_identity.h). Written
// once on the main thread before the ONVIF threads start and only read
// afterwards, so it has no lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lcx {

class EventService;

// Guards against slow or hostile peers; far above what any real client needs.
struct OnvifLimits {
  int receive_timeout_ms = 10000;          // whole request, header and body
  int send_timeout_ms = 10000;             // each send of the answer
  size_t max_request_bytes = 256 * 1024;   // header plus announced body
  int max_connections = 32;                // connection threads at once
  int min_idle_before_evict_ms = 500;      // a reader this young is never cut
};

// The host's network settings as recorders read them (GetNetworkInterfaces,
// GetDNS, ...), found once at start-up for the advertised address.
struct OnvifNetwork {
  std::string hostname;
  std::string interface_name;  // the advertised address's; empty when not found
  std::string mac;             // "aa:bb:cc:dd:ee:ff"
  int prefix_length = 0;
  int mtu = 0;
  std::vector<std::string> dns_servers;  // IPv4, dotted
  std::vector<std::string> search_domains;
  std::string gateway;  // IPv4 default gateway; empty when none
};

struct OnvifService {
  std::string ip;
  std::string stream_name;
  std::string sub_stream_name;
  std::string endpoint_uuid = "urn:uuid:2419d68a-2dd2-21b2-a205-001122334455";
  std::string serial_number = "LCX-0001";
  std::string message_uuid = "urn:uuid:11223344-5566-7788-99aa-bbccddeeff00";
  std::string device_name = "Lumicast";
  std::string digest_secret;  // the Digest nonces are made under it; one per run
  int32_t onvif_port = 8000;
  int32_t rtsp_port = 8554;
  int32_t width = 1280;
  int32_t height = 720;
  int32_t screen_width = 0;  // the main stream's size unscaled; 0: width x height
  int32_t screen_height = 0;
  int32_t fps = 10;
  int32_t sub_width = 0;
  int32_t sub_height = 0;
  int32_t main_bitrate_kbps = 2000;
  int32_t sub_bitrate_kbps = 512;
  bool substream_enabled = false;
  std::string user;
  std::string password;
  bool auth_enabled = false;
  OnvifNetwork network;
  OnvifLimits limits;
  // SystemReboot: restarts the program as the editors do. Empty: the call
  // is not offered.
  std::function<void()> restart;
  int restart_delay_ms = 1000;  // so the answer leaves first
  // The group of the multicast streams (empty: none configured) and
  // Start/StopMulticastStreaming of a stream's sender (false when it
  // cannot start). Empty hook: the calls are not offered.
  std::string multicast_group;
  int32_t multicast_port = 0;  // the main stream's; the sub-stream's two above
  int32_t multicast_ttl = 1;
  std::function<bool(bool sub, bool on)> multicast_streaming;
  // The event subscriptions: null for the process-wide GetEventService(),
  // else (tests, fuzzing) one of the caller's.
  EventService* events = nullptr;
};

// Realm of every HTTP challenge on the ONVIF port.
inline constexpr const char* kOnvifRealm = "Lumicast";

// The process-wide instance the ONVIF HTTP and discovery threads read.
OnvifService& GetOnvifService();

}  // namespace lcx

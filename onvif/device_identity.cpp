// Device identity: everything a recorder uses to tell this camera from any
// other is derived from the machine identifier, so it survives restarts and
// differs between computers; only the Digest nonce secret changes per start.
#include "onvif/device_identity.h"

#include <optional>
#include <string>

#include "platform/net_info.h"
#include "platform/system.h"
#include "security/digest.h"
#include "security/machine_id.h"

namespace lcx {
std::string UrnUuidFromHex(const std::string& hex) {
  return "urn:uuid:" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
         hex.substr(16, 4) + "-" + hex.substr(20, 12);
}

std::string DeviceNameFromSetting(const std::string& setting, const std::string& machine_id) {
  std::string name = setting.empty() || setting == "Lumicast" ? "Lumicast-" + machine_id.substr(0, 4) : setting;
  for (char& c : name) {
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
                c == '_';
    if (!keep) c = '-';
  }
  return name;
}

void ConfigureOnvifWithId(OnvifService& service, const OnvifSettings& settings, const std::string& machine_id,
                          uint64_t boot_tick_ms) {
  service.ip = settings.address;
  service.onvif_port = settings.onvif_port;
  service.rtsp_port = settings.rtsp_port;
  service.stream_name = settings.main_name;
  service.width = settings.main_stream_width;
  service.height = settings.main_stream_height;
  service.screen_width = settings.screen_width;
  service.screen_height = settings.screen_height;
  service.fps = settings.fps;
  service.sub_stream_name = settings.sub_name;
  service.sub_width = settings.sub_width;
  service.sub_height = settings.sub_height;
  service.main_bitrate_kbps = settings.main_bitrate_kbps;
  service.sub_bitrate_kbps = settings.sub_bitrate_kbps;
  service.multicast_group = settings.multicast_group;
  service.multicast_port = settings.multicast_port;
  service.multicast_ttl = settings.multicast_ttl;
  service.user = settings.user;
  service.password = settings.password;
  service.auth_enabled = settings.auth_required;
  service.substream_enabled = !settings.sub_name.empty() && settings.sub_width >= 1 && settings.sub_height >= 1;

  // The identifier always has 64 digits; pad defensively so a short one
  // cannot make substr throw.
  std::string id = machine_id;
  if (id.size() < 64) id.append(64 - id.size(), '0');
  service.endpoint_uuid = UrnUuidFromHex(id.substr(0, 32));
  service.message_uuid = UrnUuidFromHex(id.substr(32, 32));
  service.serial_number = "LCX-" + id.substr(0, 12);
  // Random, so nonces cannot be made outside; should the random source fail,
  // one that still changes per start (nonces then only expire).
  service.digest_secret = RandomHex(16);
  if (service.digest_secret.empty()) service.digest_secret = Md5Hex(service.endpoint_uuid + std::to_string(boot_tick_ms));
  service.device_name = DeviceNameFromSetting(settings.device_name, id);
}

OnvifNetwork ReadOnvifNetwork(const std::string& ip) {
  OnvifNetwork network;
  network.hostname = HostName();
  if (std::optional<InterfaceDetails> details = InterfaceOfAddress(ip)) {
    network.interface_name = details->name;
    network.mac = details->mac;
    network.prefix_length = details->prefix_length;
    network.mtu = details->mtu;
  }
  ResolverConfig resolver = ReadResolverConfig();
  network.dns_servers = resolver.nameservers;
  network.search_domains = resolver.search_domains;
  network.gateway = DefaultGateway(network.interface_name);
  return network;
}

void ConfigureOnvif(OnvifService& service, const OnvifSettings& settings) {
  ConfigureOnvifWithId(service, settings, GetMachineId(), BootTickMs());
  service.network = ReadOnvifNetwork(service.ip);
}

}  // namespace lcx

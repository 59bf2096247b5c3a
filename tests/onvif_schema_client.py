#!/usr/bin/env python3
"""A schema-checking ONVIF client for the end-to-end tests (python3-zeep).

Replays what home recorder software calls while it adds and configures a
camera, with zeep built from the official ONVIF WSDL/XSD files, and checks
that every answer's Body element validates against those schemas (zeep
itself does not check which element the Body holds), holds what the
settings say, and that calls the camera does not offer get a Fault zeep
raises as such, with the HTTP status SOAP clients expect.

  onvif_schema_client.py WSDL_DIR PORT EXPECTED_JSON [USER PASSWORD [reboot]]

EXPECTED_JSON: {"ip", "width", "height", "sub_width", "sub_height",
"bitrate", "sub_bitrate", "mac", "rtsp_port", "auth"}. With "auth" true and
no USER, checks that the protected calls are refused and the open ones
answered. With "reboot" only SystemReboot is called (the program restarts).
Prints one line per call; exits non-zero at the first failure.
"""
import copy
import json
import os
import sys
import tempfile

from lxml import etree
import requests
from zeep import Client, Settings
from zeep.exceptions import Fault
from zeep.plugins import HistoryPlugin
from zeep.transports import Transport
from zeep.wsse.username import UsernameToken

XS = "http://www.w3.org/2001/XMLSchema"
WSDL = "http://schemas.xmlsoap.org/wsdl/"
TDS = "http://www.onvif.org/ver10/device/wsdl"
TRT = "http://www.onvif.org/ver10/media/wsdl"
TT = "http://www.onvif.org/ver10/schema"
TEV = "http://www.onvif.org/ver10/events/wsdl"
WSNT = "http://docs.oasis-open.org/wsn/b-2"


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def build_schema(wsdl_dir, tmp):
    """One XMLSchema holding the device, media and event services' schemas
    (taken out of their WSDL files) and, through them, onvif.xsd and the
    WS-BaseNotification schema."""
    imports = []
    for name, ns in (("devicemgmt.wsdl", TDS), ("media.wsdl", TRT), ("events.wsdl", TEV)):
        doc = etree.parse(os.path.join(wsdl_dir, name))
        found = doc.find(f"{{{WSDL}}}types/{{{XS}}}schema")
        # Types are named by prefixes the WSDL root declares: carry them over.
        nsmap = {k: v for k, v in doc.getroot().nsmap.items() if k}
        nsmap.update({k: v for k, v in found.nsmap.items() if k})
        schema = etree.Element(found.tag, attrib=dict(found.attrib), nsmap=nsmap)
        for child in found:
            schema.append(copy.deepcopy(child))
        for imp in schema.iter(f"{{{XS}}}import", f"{{{XS}}}include"):
            loc = imp.get("schemaLocation")
            if loc and "://" not in loc:
                imp.set("schemaLocation", "file://" + os.path.abspath(os.path.join(wsdl_dir, loc)))
        path = os.path.join(tmp, name + ".xsd")
        etree.ElementTree(schema).write(path)
        imports.append(f'<xs:import namespace="{ns}" schemaLocation="file://{path}"/>')
    wrapper = os.path.join(tmp, "all.xsd")
    with open(wrapper, "w") as f:
        f.write(f'<xs:schema xmlns:xs="{XS}" targetNamespace="urn:lcx:schema-test">{"".join(imports)}</xs:schema>')
    return etree.XMLSchema(etree.parse(wrapper))


class StatusTransport(Transport):
    def post(self, address, message, headers):
        response = super().post(address, message, headers)
        self.last_status = response.status_code
        return response


class Camera:
    def __init__(self, wsdl_dir, port, user, password, schema):
        self.schema = schema
        self.history = HistoryPlugin()
        self.wsdl_dir, self.wsse, self.settings = wsdl_dir, None, None
        self.transport = StatusTransport(timeout=20, operation_timeout=20)
        wsse = UsernameToken(user, password, use_digest=True) if user else None
        settings = Settings(strict=True)
        self.wsse, self.settings = wsse, settings
        base = f"http://127.0.0.1:{port}/onvif/"
        self.namespaces = {}  # the namespace each service's answers are in

        self.device_client, self.device = self.service("devicemgmt.wsdl", f"{{{TDS}}}DeviceBinding",
                                                       base + "device_service", TDS)
        self.media_client, self.media = self.service("media.wsdl", f"{{{TRT}}}MediaBinding", base + "media_service",
                                                     TRT)
        self.events_client, self.events = self.service("events.wsdl", f"{{{TEV}}}EventBinding",
                                                       base + "event_service", TEV)

    def service(self, wsdl, binding, address, namespace):
        client = Client(os.path.join(self.wsdl_dir, wsdl), wsse=self.wsse, transport=self.transport,
                        plugins=[self.history], settings=self.settings)
        made = client.create_service(binding, address)
        self.namespaces[id(made)] = namespace
        return client, made

    def body_element(self):
        envelope = self.history.last_received["envelope"]
        body = envelope.find("{http://www.w3.org/2003/05/soap-envelope}Body")
        check(body is not None and len(body) == 1, "the answer's Body does not hold exactly one element")
        return body[0]

    def call(self, service, name, response, **kwargs):
        """Calls, then validates the Body element, which must be `response`."""
        result = getattr(service, name)(**kwargs)
        check(self.transport.last_status == 200, f"{name}: HTTP {self.transport.last_status}")
        element = self.body_element()
        expected = f"{{{self.namespaces[id(service)]}}}{response}"
        check(element.tag == expected, f"{name}: answered with {element.tag}, expected {expected}")
        try:
            self.schema.assertValid(copy.deepcopy(element))
        except etree.DocumentInvalid as e:
            raise Failure(f"{name}: answer invalid against the schema: {e}") from e
        print(f"ok {name}")
        return result

    def fault(self, service, name, status, subcode, **kwargs):
        """Calls, expecting a Fault that zeep raises, with its status and subcode."""
        try:
            getattr(service, name)(**kwargs)
        except Fault as e:
            check(self.transport.last_status == status, f"{name}: fault with HTTP {self.transport.last_status}, "
                                                        f"expected {status}")
            codes = [q.localname if hasattr(q, "localname") else str(q) for q in (e.subcodes or [])]
            check(subcode in codes, f"{name}: fault subcodes {codes}, expected {subcode}")
            print(f"ok {name} -> fault {subcode} (HTTP {status})")
            return
        raise Failure(f"{name}: answered, expected a fault")


def replay(cam, want):
    d, m = cam.device, cam.media
    sizes = {"prof0": (want["width"], want["height"]), "prof1": (want["sub_width"], want["sub_height"])}
    bitrates = {"prof0": want["bitrate"], "prof1": want["sub_bitrate"]}

    # Device: what recorders read first (time for WS-Security, services,
    # identity, the MAC address they key the camera by).
    cam.call(d, "GetSystemDateAndTime", "GetSystemDateAndTimeResponse")
    capabilities = cam.call(d, "GetCapabilities", "GetCapabilitiesResponse", Category="All")
    check(capabilities.Events.WSPullPointSupport and capabilities.Events.XAddr.endswith("/onvif/event_service"),
          "GetCapabilities does not offer the pull point")
    check(capabilities.Media.StreamingCapabilities.RTPMulticast is True, "multicast not offered")
    plain = cam.call(d, "GetServices", "GetServicesResponse", IncludeCapability=False)
    check(all(s.Capabilities is None for s in plain), "capabilities without IncludeCapability")
    services = cam.call(d, "GetServices", "GetServicesResponse", IncludeCapability=True)
    check(len(services) == 3 and all(s.Capabilities is not None for s in services),
          "GetServices with IncludeCapability lacks the capabilities")
    check([s.Namespace for s in services] == [TDS, TRT, TEV], "GetServices lists other services")
    cam.call(d, "GetDeviceInformation", "GetDeviceInformationResponse")
    cam.call(d, "GetScopes", "GetScopesResponse")
    caps = cam.call(d, "GetServiceCapabilities", "GetServiceCapabilitiesResponse")
    check(caps.Security.UsernameToken, "device capabilities deny UsernameToken")
    nics = cam.call(d, "GetNetworkInterfaces", "GetNetworkInterfacesResponse")
    check(nics[0].Info.HwAddress == want["mac"], f"MAC {nics[0].Info.HwAddress}, expected {want['mac']}")
    check(nics[0].IPv4.Config.Manual[0].Address == want["ip"], "interface address is not the advertised one")
    cam.call(d, "GetHostname", "GetHostnameResponse")
    cam.call(d, "GetDNS", "GetDNSResponse")
    cam.call(d, "GetNTP", "GetNTPResponse")
    cam.call(d, "GetNetworkDefaultGateway", "GetNetworkDefaultGatewayResponse")
    protocols = cam.call(d, "GetNetworkProtocols", "GetNetworkProtocolsResponse")
    check({p.Name: p.Port[0] for p in protocols}.get("RTSP") == want["rtsp_port"], "RTSP port not listed")
    users = cam.call(d, "GetUsers", "GetUsersResponse")
    check(all(u.Password is None for u in users), "GetUsers hands out a password")

    # Media: the profiles, their configurations and what a setup dialog lists.
    mcaps = cam.call(m, "GetServiceCapabilities", "GetServiceCapabilitiesResponse")
    check(mcaps.SnapshotUri, "media capabilities deny the snapshot")
    profiles = cam.call(m, "GetProfiles", "GetProfilesResponse")
    check([p.token for p in profiles] == ["prof0", "prof1"], "profiles are not prof0 and prof1")
    for p in profiles:
        enc = p.VideoEncoderConfiguration
        check((enc.Resolution.Width, enc.Resolution.Height) == sizes[p.token], f"{p.token} size")
        check(enc.RateControl.BitrateLimit == bitrates[p.token], f"{p.token} bit rate {enc.RateControl.BitrateLimit}")
    for token in ("prof0", "prof1"):
        one = cam.call(m, "GetProfile", "GetProfileResponse", ProfileToken=token)
        res = one.VideoEncoderConfiguration.Resolution
        check(one.token == token and (res.Width, res.Height) == sizes[token], f"GetProfile {token}: {res}")
    cam.call(m, "GetVideoSources", "GetVideoSourcesResponse")
    cam.call(m, "GetVideoSourceConfigurations", "GetVideoSourceConfigurationsResponse")
    cam.call(m, "GetVideoSourceConfiguration", "GetVideoSourceConfigurationResponse", ConfigurationToken="vsrccfg0")
    encoders = cam.call(m, "GetVideoEncoderConfigurations", "GetVideoEncoderConfigurationsResponse")
    check([e.token for e in encoders] == ["venccfg0", "venccfg1"], "encoder configurations")
    sub = cam.call(m, "GetVideoEncoderConfiguration", "GetVideoEncoderConfigurationResponse",
                   ConfigurationToken="venccfg1")
    check((sub.Resolution.Width, sub.Resolution.Height) == sizes["prof1"], "sub encoder size")
    for kwargs, token in (({"ConfigurationToken": "venccfg0"}, "prof0"), ({"ProfileToken": "prof1"}, "prof1")):
        options = cam.call(m, "GetVideoEncoderConfigurationOptions", "GetVideoEncoderConfigurationOptionsResponse",
                           **kwargs)
        listed = [(r.Width, r.Height) for r in options.H264.ResolutionsAvailable]
        check(sizes[token] in listed and len(listed) >= 2, f"options of {token} list {listed}")
        check(options.H264.H264ProfilesSupported == ["Baseline"], "H.264 profiles")
        # zeep leaves the extension (behind an xs:any) unparsed: read it raw.
        rng = cam.body_element().find(f".//{{{TT}}}Extension/{{{TT}}}H264/{{{TT}}}BitrateRange")
        check(rng is not None and int(rng.findtext(f"{{{TT}}}Min")) <= bitrates[token] <= int(rng.findtext(f"{{{TT}}}Max")),
              "configured bit rate outside the options' range")
    cam.call(m, "GetCompatibleVideoEncoderConfigurations", "GetCompatibleVideoEncoderConfigurationsResponse",
             ProfileToken="prof0")
    cam.call(m, "GetGuaranteedNumberOfVideoEncoderInstances", "GetGuaranteedNumberOfVideoEncoderInstancesResponse",
             ConfigurationToken="vsrccfg0")
    # Every transport the camera serves: RTSP (TCP), UDP, the HTTP tunnel, multicast.
    for stream, protocol in (("RTP-Unicast", "RTSP"), ("RTP-Unicast", "UDP"), ("RTP-Unicast", "HTTP"),
                             ("RTP-Multicast", "UDP")):
        setup = {"Stream": stream, "Transport": {"Protocol": protocol}}
        for token in ("prof0", "prof1"):
            uri = cam.call(m, "GetStreamUri", "GetStreamUriResponse", StreamSetup=setup, ProfileToken=token)
            check(uri.Uri.startswith(f"rtsp://{want['ip']}:{want['rtsp_port']}/"), f"stream URI {uri.Uri}")
            check(uri.Uri.endswith("/multicast") == (stream == "RTP-Multicast"), f"{stream} stream URI {uri.Uri}")
    cam.call(m, "GetSnapshotUri", "GetSnapshotUriResponse", ProfileToken="prof0")
    # A recorder that joins the group keeps its sender running from Start to Stop.
    for token in ("prof0", "prof1"):
        cam.call(m, "StartMulticastStreaming", "StartMulticastStreamingResponse", ProfileToken=token)
        cam.call(m, "StopMulticastStreaming", "StopMulticastStreamingResponse", ProfileToken=token)

    # What the camera does not offer: a fault, never an answer.
    cam.fault(m, "GetProfile", 400, "NoProfile", ProfileToken="prof9")
    cam.fault(m, "SetVideoEncoderConfiguration", 500, "ActionNotSupported", Configuration=sub, ForcePersistence=True)

    # The calls recorders make while adding a camera, beyond the profiles.
    cam.call(m, "GetOSDs", "GetOSDsResponse", ConfigurationToken="vsrccfg0")
    cam.call(m, "GetOSDOptions", "GetOSDOptionsResponse", ConfigurationToken="vsrccfg0")
    cam.fault(m, "CreateProfile", 500, "MaxNVTProfiles", Name="SynoTestProfile")
    cam.fault(m, "DeleteProfile", 400, "DeletionOfFixedProfile", ProfileToken="prof0")
    cam.fault(d, "SetSystemDateAndTime", 500, "ActionNotSupported", DateTimeType="NTP", DaylightSavings=False)
    events(cam, want)
    # A garbage body, its answer read by zeep's own reply handling.
    response = requests.post(f"http://127.0.0.1:{want['port']}/onvif/device_service", data=b"\x00garbage<<",
                             headers={"Content-Type": "application/soap+xml"}, timeout=20)
    check(response.status_code == 400, f"garbage body answered HTTP {response.status_code}")
    try:
        d._binding.process_reply(cam.device_client, d._binding.get("GetDeviceInformation"), response)
        raise Failure("zeep took the answer to a garbage body for an answer")
    except Fault as e:
        print(f"ok garbage body -> fault {[str(s) for s in (e.subcodes or [])]} (HTTP 400)")


def events(cam, want):
    """The pull point, as a recorder that records on the camera's alarm uses it."""
    e = cam.events
    caps = cam.call(e, "GetServiceCapabilities", "GetServiceCapabilitiesResponse")
    check(caps.WSPullPointSupport and not caps.WSSubscriptionPolicySupport, "event capabilities")
    cam.call(e, "GetEventProperties", "GetEventPropertiesResponse")
    topics = cam.body_element().find(f"{{http://docs.oasis-open.org/wsn/t-1}}TopicSet")
    check(topics is not None and topics.find("{http://www.onvif.org/ver10/topics}VideoSource/MotionAlarm") is not None
          and topics.find("{http://www.onvif.org/ver10/topics}RuleEngine/CellMotionDetector/Motion") is not None,
          "the topic set lacks the motion topics")
    created = cam.call(e, "CreatePullPointSubscription", "CreatePullPointSubscriptionResponse",
                       InitialTerminationTime="PT60S")
    address = created.SubscriptionReference.Address._value_1.replace(f"//{want['ip']}:", "//127.0.0.1:")
    check("/onvif/events/pullpoint/" in address, f"subscription address {address}")
    _, pull = cam.service("events.wsdl", f"{{{TEV}}}PullPointSubscriptionBinding", address, TEV)
    _, manager = cam.service("events.wsdl", f"{{{TEV}}}SubscriptionManagerBinding", address, WSNT)
    pulled = cam.call(pull, "PullMessages", "PullMessagesResponse", Timeout="PT1S", MessageLimit=10)
    ops = [m.get("PropertyOperation") for m in cam.body_element().iter(f"{{{TT}}}Message")]
    # The state at the start, then (the test scene moves) perhaps its change.
    check(len(pulled.NotificationMessage) == len(ops) and ops[:2] == ["Initialized", "Initialized"] and
          all(op == "Changed" for op in ops[2:]), f"first messages {ops}")
    cam.call(pull, "SetSynchronizationPoint", "SetSynchronizationPointResponse")
    again = cam.call(pull, "PullMessages", "PullMessagesResponse", Timeout="PT1S", MessageLimit=1)
    check(len(again.NotificationMessage) == 1, "MessageLimit 1 not honoured")
    cam.call(manager, "Renew", "RenewResponse", TerminationTime="PT120S")
    cam.call(manager, "Unsubscribe", "UnsubscribeResponse")
    cam.fault(pull, "PullMessages", 400, "InvalidArgVal", Timeout="PT1S", MessageLimit=10)
    cam.fault(pull, "Seek", 500, "ActionNotSupported", UtcTime="2026-01-01T00:00:00Z")


def refused(cam):
    """stream_auth on, no credentials: the protected calls get NotAuthorized."""
    d, m = cam.device, cam.media
    cam.call(d, "GetSystemDateAndTime", "GetSystemDateAndTimeResponse")
    cam.call(d, "GetDeviceInformation", "GetDeviceInformationResponse")
    cam.call(d, "GetServices", "GetServicesResponse", IncludeCapability=True)
    cam.call(m, "GetVideoSources", "GetVideoSourcesResponse")
    for service, name, kwargs in (
            (d, "GetNetworkInterfaces", {}), (d, "GetHostname", {}), (d, "GetDNS", {}), (d, "GetNTP", {}),
            (d, "GetNetworkDefaultGateway", {}), (d, "GetNetworkProtocols", {}), (d, "GetUsers", {}),
            (d, "GetServiceCapabilities", {}), (m, "GetServiceCapabilities", {}), (m, "GetProfiles", {}),
            (m, "GetProfile", {"ProfileToken": "prof0"}), (m, "GetVideoSourceConfigurations", {}),
            (m, "GetVideoEncoderConfigurations", {}),
            (m, "GetVideoEncoderConfigurationOptions", {"ConfigurationToken": "venccfg0"}),
            (m, "GetCompatibleVideoEncoderConfigurations", {"ProfileToken": "prof0"}),
            (m, "GetGuaranteedNumberOfVideoEncoderInstances", {"ConfigurationToken": "vsrccfg0"}),
            (m, "GetSnapshotUri", {"ProfileToken": "prof0"}), (m, "GetOSDs", {}),
            (m, "CreateProfile", {"Name": "x"}), (m, "DeleteProfile", {"ProfileToken": "prof1"}),
            (d, "SetSystemDateAndTime", {"DateTimeType": "NTP", "DaylightSavings": False}), (d, "SystemReboot", {}),
            (cam.events, "GetServiceCapabilities", {}), (cam.events, "GetEventProperties", {}),
            (cam.events, "CreatePullPointSubscription", {})):
        cam.fault(service, name, 401, "NotAuthorized", **kwargs)


def main():
    wsdl_dir, port, want = sys.argv[1], int(sys.argv[2]), json.loads(sys.argv[3])
    user, password = (sys.argv[4], sys.argv[5]) if len(sys.argv) > 5 else (None, None)
    reboot = len(sys.argv) > 6 and sys.argv[6] == "reboot"
    want["port"] = port
    with tempfile.TemporaryDirectory() as tmp:
        schema = build_schema(wsdl_dir, tmp)
        cam = Camera(wsdl_dir, port, user, password, schema)
        try:
            if reboot:
                answer = cam.call(cam.device, "SystemReboot", "SystemRebootResponse")
                check(bool(answer), "SystemReboot without a message")
            elif want["auth"] and not user:
                refused(cam)
            else:
                replay(cam, want)
        except Failure as e:
            print(f"FAIL: {e}", file=sys.stderr)
            sys.exit(1)
    print("schema client: all calls checked")


if __name__ == "__main__":
    main()

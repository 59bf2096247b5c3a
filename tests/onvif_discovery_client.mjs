// For it_onvif_discovery.sh: WS-Discovery probes as recorders send them, the
// answer storm that must not start, and the npm onvif client's search.
// Usage: node onvif_discovery_client.mjs IP ONVIF_PORT MULTICAST(0|1) TESTS_DIR
import dgram from 'node:dgram';
import { randomUUID } from 'node:crypto';
const [ip, port, multicast, here] = process.argv.slice(2);
const fail = (m) => { console.error('FAIL: ' + m); process.exit(1); };

const probe = (id) => '<?xml version="1.0" encoding="UTF-8"?><s:Envelope ' +
  'xmlns:s="http://www.w3.org/2003/05/soap-envelope" xmlns:a="http://schemas.xmlsoap.org/ws/2004/08/addressing">' +
  '<s:Header><a:Action s:mustUnderstand="1">http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe</a:Action>' +
  `<a:MessageID>${id}</a:MessageID><a:ReplyTo><a:Address>` +
  'http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</a:Address></a:ReplyTo>' +
  '<a:To s:mustUnderstand="1">urn:schemas-xmlsoap-org:ws:2005:04:discovery</a:To></s:Header><s:Body>' +
  '<Probe xmlns="http://schemas.xmlsoap.org/ws/2005/04/discovery"><d:Types ' +
  'xmlns:d="http://schemas.xmlsoap.org/ws/2005/04/discovery" xmlns:dp0="http://www.onvif.org/ver10/network/wsdl">' +
  'dp0:NetworkVideoTransmitter</d:Types></Probe></s:Body></s:Envelope>';
const hello = (id) => '<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope" ' +
  'xmlns:a="http://schemas.xmlsoap.org/ws/2004/08/addressing"><s:Header><a:Action>' +
  `http://schemas.xmlsoap.org/ws/2005/04/discovery/Hello</a:Action><a:MessageID>${id}</a:MessageID></s:Header>` +
  '<s:Body><d:Hello xmlns:d="http://schemas.xmlsoap.org/ws/2005/04/discovery"/></s:Body></s:Envelope>';

// Sends one datagram from a fresh socket; collects every answer for 1.5 s.
// fromPort 3702 shares the responder's port (both set SO_REUSEADDR).
function exchange(text, target, viaInterface, fromPort = 0) {
  return new Promise((resolve, reject) => {
    const sock = dgram.createSocket({ type: 'udp4', reuseAddr: fromPort !== 0 });
    const answers = [];
    sock.on('message', (msg, rinfo) => answers.push({ text: msg.toString(), from: rinfo }));
    sock.on('error', reject);
    sock.bind(fromPort, viaInterface || '127.0.0.1', () => {
      if (viaInterface) sock.setMulticastInterface(viaInterface);
      sock.send(text, 3702, target, (err) => { if (err) reject(err); });
      setTimeout(() => { sock.close(); resolve(answers); }, 1500);
    });
  });
}

function checkMatch(answers, id, what) {
  if (answers.length !== 1) fail(`${what}: ${answers.length} answers, expected exactly one`);
  const t = answers[0].text;
  const tag = (name) => (t.match(new RegExp(`<${name}>([^<]*)</${name}>`)) || [])[1];
  if (!t.includes('<d:ProbeMatches>')) fail(`${what}: not a ProbeMatches: ${t.slice(0, 120)}`);
  if (tag('a:RelatesTo') !== id) fail(`${what}: RelatesTo ${tag('a:RelatesTo')}, probe was ${id}`);
  const xaddrs = `http://${ip}:${port}/onvif/device_service`;
  if (tag('d:XAddrs') !== xaddrs) fail(`${what}: XAddrs ${tag('d:XAddrs')}, expected ${xaddrs}`);
  if (!/^urn:uuid:[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$/.test(tag('a:Address'))) {
    fail(`${what}: endpoint address ${tag('a:Address')}`);
  }
  if (tag('d:Types') !== 'dn:NetworkVideoTransmitter tds:Device') fail(`${what}: types ${tag('d:Types')}`);
  return tag('a:MessageID');
}

const id1 = 'uuid:' + randomUUID(), id2 = 'uuid:' + randomUUID();
const first = checkMatch(await exchange(probe(id1), '127.0.0.1'), id1, 'unicast probe');
const second = checkMatch(await exchange(probe(id2), '127.0.0.1'), id2, 'second unicast probe');
// Clients that drop a message whose identifier they have seen (python's
// ws-discovery does) would miss the camera on their second search.
if (!/^urn:uuid:[0-9a-f-]{36}$/.test(first) || first === second) {
  fail(`answers to two probes carry MessageIDs ${first} and ${second}: each needs its own`);
}
for (const [what, text] of [['hello', hello('uuid:' + randomUUID())], ['plain text', 'hello camera']]) {
  const answers = await exchange(text, '127.0.0.1');
  if (answers.length) fail(`${what} was answered`);
}
console.log('unicast probes answered once each; hello and plain text ignored');

// The storm: our own answer sent from 127.0.0.1:3702 to another local
// address so the responder (on 0.0.0.0:3702) gets it. Any answer would go
// back to 127.0.0.1:3702 and, once that socket is gone, to the responder
// itself. A probe from that port is a recorder on this machine: answered.
const ownAnswer = (await exchange(probe('uuid:' + randomUUID()), '127.0.0.1'))[0].text;
if (multicast === '1') {
  const answers = await exchange(ownAnswer, '10.213.0.1', '127.0.0.1', 3702);
  if (answers.length) fail(`its own ProbeMatches sent from 127.0.0.1:3702 got ${answers.length} answer(s)`);
  const local = 'uuid:' + randomUUID();
  checkMatch(await exchange(probe(local), '10.213.0.1', '127.0.0.1', 3702), local, 'probe from 127.0.0.1:3702');
  console.log('a ProbeMatches from port 3702 got no answer, a probe from port 3702 got one');
} else {
  console.log('SKIP step: datagrams from port 3702 (port shared with the machine)');
}
const ordinary = 'uuid:' + randomUUID();
checkMatch(await exchange(probe(ordinary), '127.0.0.1'), ordinary, 'probe from an ordinary port after the storm check');

if (multicast === '1') {
  const id3 = 'uuid:' + randomUUID();
  const answers = await exchange(probe(id3), '239.255.255.250', '10.213.0.1');
  checkMatch(answers, id3, 'multicast probe');
  if (answers[0].from.address === '239.255.255.250') fail('the answer went to the group');
  console.log(`multicast probe answered by unicast from ${answers[0].from.address}:${answers[0].from.port}`);

  // The real client's probe, as a recorder built on it sends it.
  const { createRequire } = await import('node:module');
  let onvif = null;
  try { onvif = createRequire(here + '/')('onvif'); } catch {
    if (process.env.CI === 'true') fail('the npm onvif client is missing (scripts/deps.sh installs it)');
    console.log('SKIP step: npm onvif client missing');
  }
  if (onvif) {
    const found = await new Promise((resolve, reject) => {
      onvif.Discovery.probe({ timeout: 1500, resolve: false }, (err, cams) => (err ? reject(err) : resolve(cams)));
    });
    if (found.length !== 1) fail(`the onvif client found ${found.length} cameras`);
    const xaddrs = found[0].probeMatches.probeMatch.XAddrs;
    if (xaddrs !== `http://${ip}:${port}/onvif/device_service`) fail(`the onvif client saw XAddrs ${xaddrs}`);
    console.log('the Node.js onvif client found the camera by multicast');
  }
} else {
  console.log('SKIP step: multicast probe (no network namespace with a multicast route)');
}

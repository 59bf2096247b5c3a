# For it_desktop_service.sh: stands in for systemd's notify socket and prints
# every message the supervisor sends until STOPPING=1 (or 30 s of silence).
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
s.settimeout(30)
try:
    while True:
        msg = s.recv(4096).decode()
        print(msg.replace("\n", " "), flush=True)
        if "STOPPING=1" in msg:
            break
except socket.timeout:
    pass

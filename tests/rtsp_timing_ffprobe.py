# For it_rtsp_timing.sh: every packet ffprobe shows carries a wall-clock
# reference from the sender reports. Usage: FFPROBE_JSON
import json, sys
packets = json.loads(sys.argv[1])["packets"]
assert len(packets) >= 10, f"{len(packets)} packets"
for i, p in enumerate(packets):
    kinds = [d.get("side_data_type") for d in p.get("side_data_list", [])]
    assert "Producer Reference Time" in kinds, f"packet {i} has no wall-clock reference: {p}"

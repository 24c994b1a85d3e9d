#!/usr/bin/env python3
"""CPU use of kivd receiving 1,000 E1.31 universes per frame at 40 fps for 10 s.

Usage: bench/bridge-cpu.py BUILD_DIR. Starts build/src/kivd -f on a temporary media
directory with 1,000 unicast input universes, sends from this host on loopback and
prints the daemon's CPU time over the run as percent of one core."""
import json, os, signal, socket, subprocess, sys, tempfile, time, urllib.request

UNIVERSES, FPS, SECONDS = 1000, 40, 10


def e131(universe, seq, slots):
    n = 126 + len(slots)
    p = bytearray(n)
    p[1] = 0x10
    p[4:13] = b"ASC-E1.17"
    p[16], p[17] = 0x70 | ((n - 16) >> 8 & 0x0F), (n - 16) & 0xFF
    p[21] = 0x04
    p[38], p[39] = 0x70 | ((n - 38) >> 8 & 0x0F), (n - 38) & 0xFF
    p[43] = 0x02
    p[108], p[111] = 100, seq & 0xFF
    p[113], p[114] = universe >> 8, universe & 0xFF
    p[115], p[116] = 0x70 | ((n - 115) >> 8 & 0x0F), (n - 115) & 0xFF
    p[117], p[118], p[122] = 0x02, 0xA1, 0x01
    p[123], p[124] = (len(slots) + 1) >> 8, (len(slots) + 1) & 0xFF
    p[126:] = slots
    return bytes(p)


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime + stime


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    media = tempfile.mkdtemp(prefix="kiv-bridge-bench-")
    for sub in ("config", "sequences", "playlists", "logs", "tmp"):
        os.makedirs(os.path.join(media, sub))
    with open(os.path.join(media, "config/ci-universes.json"), "w") as f:
        json.dump({"channelInputs": [{"type": "universes", "enabled": 1, "universes": [
            {"active": 1, "type": 1, "id": 1, "startChannel": 1, "channelCount": 512,
             "universeCount": UNIVERSES}]}]}, f)
    with open(os.path.join(media, "config/channeloutputs.json"), "w") as f:
        json.dump({"channelOutputs": [{"type": "UDP", "enabled": 1, "interface": "lo", "universes": [
            {"type": 7, "address": "127.0.0.24", "startChannel": 1, "channelCount": 512, "id": 1,
             "universeCount": 3}]}]}, f)
    env = dict(os.environ, KIV_MEDIA_DIR=media)
    env.pop("KIV_PLUGIN_DIR", None)
    log = open(os.path.join(media, "kivd-output.txt"), "w")
    kivd = subprocess.Popen([os.path.join(build, "src/kivd"), "-f"], env=env, stdout=log, stderr=log)
    try:
        time.sleep(3)
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        slots = bytes((i * 3) % 256 for i in range(512))
        packets = [e131(u + 1, 0, slots) for u in range(UNIVERSES)]
        start_ticks, start = cpu_ticks(kivd.pid), time.monotonic()
        for frame in range(FPS * SECONDS):
            due = start + frame / FPS
            while time.monotonic() < due:
                time.sleep(0.0005)
            for p in packets:
                sock.sendto(p, ("127.0.0.1", 5568))
        elapsed = time.monotonic() - start
        used = (cpu_ticks(kivd.pid) - start_ticks) / os.sysconf("SC_CLK_TCK")
        got = "?"
        try:  # the HTTP API is missing when another daemon holds its port
            with urllib.request.urlopen("http://127.0.0.1:32322/kivd/e131stats", timeout=3) as r:
                rows = json.load(r)["universes"]
            got = sum(int(r["packetsReceived"]) for r in rows if isinstance(r["id"], int))
        except (OSError, ValueError, KeyError) as e:
            print(f"statistics not available: {e}")
        print(f"{UNIVERSES} universes x {FPS} fps for {elapsed:.1f} s: kivd used {100 * used / elapsed:.1f}% "
              f"of one core, bridged {got} of {UNIVERSES * FPS * SECONDS} datagrams")
    finally:
        kivd.send_signal(signal.SIGTERM)
        try:
            kivd.wait(5)
        except subprocess.TimeoutExpired:
            kivd.kill()
            kivd.wait()


if __name__ == "__main__":
    main()

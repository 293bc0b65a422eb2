# Tries the network the way a program would and prints one JSON line:
#   probe.py connect HOST PORT   a TCP connection and a datagram to HOST
#   probe.py listen PORT         accepts one connection for a few seconds
#   probe.py flips HOST PORT COUNT  sends a datagram every 0.2 ms; after "ready"
#       prints a line each time sending begins to fail or to succeed again, with
#       when the first attempt with the new result and the last with the old one
#       began (monotonic clock, seconds); after COUNT such changes, the median
#       time a refused sendto and connect take
#   probe.py relay NETNS DEVICE  joins tun device DEVICE of this namespace to
#       the one of the same name in NETNS (a namespace file), packet by packet
import json, socket, sys, time

def attempt(action):
    start = time.perf_counter()
    try:
        action()
        result = "ok"
    except OSError as e:
        result = e.errno if e.errno is not None else str(e)
    return {"result": result, "ms": (time.perf_counter() - start) * 1000}

mode = sys.argv[1]
if mode == "connect":
    host, port = sys.argv[2], int(sys.argv[3])
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    stream = socket.socket(family, socket.SOCK_STREAM)
    stream.settimeout(1.0)
    datagram = socket.socket(family, socket.SOCK_DGRAM)
    print(json.dumps({"connect": attempt(lambda: stream.connect((host, port))),
                      "send": attempt(lambda: datagram.sendto(b"x", (host, port)))}), flush=True)
elif mode == "flips":
    host, port, count = sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    datagram = socket.socket(family, socket.SOCK_DGRAM)
    print(json.dumps({"ready": True}), flush=True)
    flips, refused, last, lastStart = 0, [], "ok", None
    end = time.monotonic() + 60
    while flips < count and time.monotonic() < end:
        start = time.monotonic()
        outcome = attempt(lambda: datagram.sendto(b"x", (host, port)))
        if outcome["result"] != last:
            flips += 1
            print(json.dumps({"result": outcome["result"], "t": start, "before": lastStart}),
                  flush=True)
            last = outcome["result"]
        lastStart = start
        if outcome["result"] != "ok":
            refused.append(outcome["ms"])
        time.sleep(0.0002)
    connects = []
    for _ in range(20):
        stream = socket.socket(family, socket.SOCK_STREAM)
        connects.append(attempt(lambda: stream.connect((host, port))))
        stream.close()
    median = lambda values: sorted(values)[len(values) // 2] if values else None
    print(json.dumps({"sendMs": median(refused),
                      "connectMs": median([c["ms"] for c in connects]),
                      "connect": connects[-1]["result"]}), flush=True)
elif mode == "relay":
    import ctypes, fcntl, os, select, struct
    def tun(name):
        fd = os.open("/dev/net/tun", os.O_RDWR)
        # TUNSETIFF with IFF_TUN | IFF_NO_PI: bare IP packets
        fcntl.ioctl(fd, 0x400454CA, struct.pack("16sH22x", name.encode(), 0x1001))
        return fd
    here = tun(sys.argv[3])
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.setns(os.open(sys.argv[2], os.O_RDONLY), 0x40000000) != 0:  # CLONE_NEWNET
        raise OSError(ctypes.get_errno(), "setns")
    there = tun(sys.argv[3])
    print(json.dumps({"relaying": True}), flush=True)
    while True:
        for fd in select.select([here, there], [], [])[0]:
            os.write(there if fd == here else here, os.read(fd, 65536))
elif mode == "listen":
    server = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("::", int(sys.argv[2])))
    server.listen(4)
    print(json.dumps({"listening": True}), flush=True)
    server.settimeout(30)
    while True:
        connection, _ = server.accept()
        connection.close()

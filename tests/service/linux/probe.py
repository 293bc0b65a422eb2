# Tries the network the way a program would and prints one JSON line:
#   probe.py connect HOST PORT   a TCP connection and a datagram to HOST
#   probe.py listen PORT         accepts one connection for a few seconds
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

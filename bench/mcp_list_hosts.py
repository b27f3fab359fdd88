"""Times list_hosts both ways from one client: a tools/call line written to a
running sorvane-mcp until its response line is read, and a run of
`sorvane list --json` until it exits. Usage: mcp_list_hosts.py MCP SORVANE RUNS"""
import json
import statistics
import subprocess
import sys
import time


def figures(name, seconds):
    ms = sorted(s * 1000 for s in seconds)
    print("%-34s mean %7.3f ms  median %7.3f ms  p90 %7.3f ms  (%d runs)"
          % (name, statistics.fmean(ms), statistics.median(ms), ms[int(len(ms) * 0.9)], len(ms)))


def mcp_calls(binary, runs):
    server = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def ask(message):
        server.stdin.write(json.dumps(message).encode() + b"\n")
        server.stdin.flush()
        return json.loads(server.stdout.readline())

    ask({"jsonrpc": "2.0", "id": 0, "method": "initialize", "params": {"protocolVersion": "2025-11-25"}})
    call = {"jsonrpc": "2.0", "id": 1, "method": "tools/call", "params": {"name": "list_hosts", "arguments": {}}}
    seconds = []
    for _ in range(runs + 20):  # the first 20 warm up
        start = time.perf_counter()
        reply = ask(call)
        seconds.append(time.perf_counter() - start)
        assert len(reply["result"]["structuredContent"]["hosts"]) == 100, reply
    server.stdin.close()
    server.wait()
    return seconds[20:]


def cli_runs(binary, runs):
    seconds = []
    for _ in range(runs + 20):
        start = time.perf_counter()
        out = subprocess.run([binary, "list", "--json"], stdout=subprocess.PIPE, check=True).stdout
        seconds.append(time.perf_counter() - start)
        assert len(json.loads(out)) == 100
    return seconds[20:]


def main():
    mcp, cli, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
    figures("sorvane-mcp tools/call list_hosts", mcp_calls(mcp, runs))
    figures("sorvane list --json", cli_runs(cli, runs))


if __name__ == "__main__":
    main()

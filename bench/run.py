#!/usr/bin/python3
"""Runs the benchmarks beside their peers and prints one table.

Usage: run.py BUILD_DIR

BUILD_DIR holds the release build of bench/ (bench/bench_encoding and
bench/bench_session) and receives the run's files: the random input, the
message files, the raw results and the table (bench-table.md). Every server
is started on 127.0.0.1 on a port picked at run time and is stopped when the
run ends, however it ends.
"""
import datetime
import json
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
MIB = 1024 * 1024
RANDOM_BYTES = 64 * MIB
SMALL_BODY = 1024
MESSAGES = 1000
LOGINS = 50
LARGE_BODY = 20 * MIB
REPEATS = 3  # best of REPEATS for every wall time taken here
SENDER = "sender@example.com"
RECIPIENT = "rcpt@example.com"
USER, PASSWORD = "bench@example.com", "bench-secret"

children = []


def log(text):
    print(text, file=sys.stderr, flush=True)


def start(command, **options):
    process = subprocess.Popen(command, **options)
    children.append(process)
    return process


def stop_children():
    """Ends every process the run started that is still running."""
    for process in children:
        if process.poll() is None:
            process.terminate()
    for process in children:
        try:
            process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        if process.stdout:
            process.stdout.close()


def stop_on_signal(number, frame):
    sys.exit(128 + number)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for_port(port, process):
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if process.poll() is not None:
            sys.exit(f"server {process.args[0]} ended with code {process.returncode}")
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)
    sys.exit(f"server {process.args[0]} is not listening on port {port}")


def measure(command, stdout=subprocess.PIPE):
    """Runs command once; its wall seconds, peak resident KiB and output."""
    command = [str(argument) for argument in command]
    started = time.perf_counter()
    process = start(command, stdout=stdout)
    output = ""
    if stdout == subprocess.PIPE:
        with process.stdout:
            output = process.stdout.read().decode()
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - started
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        sys.exit(f"{' '.join(command)} ended with code {process.returncode}")
    return wall, usage.ru_maxrss, output


def best_wall(command):
    return min(measure(command, subprocess.DEVNULL)[0] for _ in range(REPEATS))


def key_values(output):
    return {key: float(value) for key, value in (line.split() for line in output.splitlines())}


def random_file(build):
    path = os.path.join(build, "random-64MiB.bin")
    if not os.path.exists(path) or os.path.getsize(path) != RANDOM_BYTES:
        with open(path, "wb") as file:
            for _ in range(RANDOM_BYTES // MIB):
                file.write(os.urandom(MIB))
    return path


def encoding_results(build, encoding_bench, random_path):
    log("Encoding benchmarks ...")
    out = os.path.join(build, "encoding.json")
    with open(os.path.join(build, "encoding.log"), "w") as console:
        subprocess.run([encoding_bench, random_path, f"--benchmark_repetitions={REPEATS}",
                        f"--benchmark_out={out}", "--benchmark_out_format=json"],
                       stdout=console, stderr=console, check=True)
    with open(out) as file:
        runs = [run for run in json.load(file)["benchmarks"] if run["run_type"] == "iteration"]
    best = {}
    for run in runs:
        if run.get("error_occurred"):
            sys.exit(f"{run['name']}: {run.get('error_message')}")
        name = run["name"].split("/")[0]
        if name not in best or run["real_time"] < best[name]["real_time"]:
            best[name] = run
    return best


def curl_config(path, port, message, count):
    """A curl config that sends message count times over one connection."""
    with open(path, "w") as config:
        config.write(f'mail-from = "{SENDER}"\nmail-rcpt = "{RECIPIENT}"\n'
                     'silent\nshow-error\nwrite-out = "%{num_connects}\\n"\n')
        for _ in range(count):
            config.write(f'upload-file = "{message}"\nurl = "smtp://127.0.0.1:{port}"\n')


def machine():
    cpu = "unknown CPU"
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    return f"nproc {len(os.sched_getaffinity(0))}, {cpu}"


def row(name, ours, peer, theirs, ratio, goal):
    return f"| {name} | {ours} | {peer} | {theirs} | {ratio} | {goal} |"


def verdict(ratio, least):
    return "met" if ratio >= least else "**missed**"


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    session_bench = os.path.join(build, "bench", "bench_session")
    encoding_bench = os.path.join(build, "bench", "bench_encoding")
    sink_program = shutil.which("smtp-sink") or "/usr/sbin/smtp-sink"
    for signal_number in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(signal_number, stop_on_signal)

    random_path = random_file(build)
    encoding = encoding_results(build, encoding_bench, random_path)
    log("base64 -w 76 ...")
    base64_seconds = best_wall(["base64", "-w", "76", random_path])

    sink_port = free_port()
    # smtp-sink must drop its privileges when it is started as root.
    user = ["-u", "nobody"] if os.geteuid() == 0 else []
    sink = start([sink_program, *user, f"127.0.0.1:{sink_port}", "256"])
    wait_for_port(sink_port, sink)
    auth = start([sys.executable, os.path.join(HERE, "auth_server.py"), USER, PASSWORD],
                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    auth_port = int(auth.stdout.readline())
    wait_for_port(auth_port, auth)

    small_message = os.path.join(build, "message-1KiB.eml")
    large_message = os.path.join(build, "message-20MiB.eml")
    measure([session_bench, "message", SMALL_BODY, small_message])
    measure([session_bench, "message", LARGE_BODY, large_message])

    log(f"{MESSAGES} messages over one session ...")
    ours_messages = best_wall([session_bench, "messages", sink_port, MESSAGES, SMALL_BODY])
    config = os.path.join(build, "curl-messages.conf")
    curl_config(config, sink_port, small_message, MESSAGES)
    connects = sum(int(n) for n in measure(["curl", "-K", config])[2].split())
    if connects != 1:
        sys.exit(f"curl made {connects} connections for {MESSAGES} messages, not one")
    curl_messages = best_wall(["curl", "-K", config])

    log(f"{LOGINS} logins ...")
    ours_login = key_values(measure([session_bench, "login", auth_port, USER, PASSWORD,
                                     LOGINS])[2])["median_seconds"]
    curl_logins = []
    for _ in range(LOGINS):
        # Connect, greeting, EHLO and AUTH LOGIN end where the transfer would begin.
        output = measure(["curl", "-sS", "-o", "/dev/null", "-w", "%{time_pretransfer}",
                          "--user", f"{USER}:{PASSWORD}", "--login-options", "AUTH=LOGIN",
                          "-X", "NOOP", f"smtp://127.0.0.1:{auth_port}"])[2]
        curl_logins.append(float(output))
    curl_login = statistics.median(curl_logins)

    log("one 20 MiB body ...")
    large_runs = [measure([session_bench, "large", sink_port, LARGE_BODY]) for _ in range(REPEATS)]
    ours_large = min(key_values(run[2])["seconds"] for run in large_runs)
    ours_peak = max(key_values(run[2])["peak_kib"] for run in large_runs) * 1024
    curl_times, curl_peak = [], 0
    for _ in range(REPEATS):
        # From MAIL FROM to the reply to the end of the data, as SendMail.
        _, peak, output = measure(["curl", "-sS", "-w", "%{time_pretransfer} %{time_total}",
                                   "--mail-from", SENDER, "--mail-rcpt", RECIPIENT,
                                   "-T", large_message, f"smtp://127.0.0.1:{sink_port}"])
        pretransfer, total = map(float, output.split())
        curl_times.append(total - pretransfer)
        curl_peak = max(curl_peak, peak * 1024)
    curl_large = min(curl_times)
    memory_limit = 2.5 * LARGE_BODY + 5e6

    def rate(run):
        return run["bytes_per_second"] / 1e6

    def micro(run):
        return run["real_time"] * {"ns": 1e-3, "us": 1, "ms": 1e3}[run["time_unit"]]

    base64_ours = rate(encoding["BM_Base64Encode"])
    base64_peer = RANDOM_BYTES / base64_seconds / 1e6
    base64_ratio = base64_ours / base64_peer
    rate_ours = MESSAGES / ours_messages
    rate_peer = MESSAGES / curl_messages
    none = "—"
    lines = [
        f"Run of {datetime.date.today().isoformat()} on {machine()}; best of {REPEATS} "
        "unless a median is named. Ratio: how many times better this program does than "
        "its peer (above 1 is better).",
        "",
        row("Measurement", "This program", "Peer", "Peer's figure", "Ratio", "Goal"),
        row("---", "---", "---", "---", "---", "---"),
        row("Body encoding (`Base64Encode` with line breaks, piece by piece), 64 MiB of random bytes",
            f"{base64_ours:,.0f} MB/s", "`base64 -w 76`, same bytes",
            f"{base64_peer:,.0f} MB/s", f"{base64_ratio:.2f}",
            f"≥ 3: {verdict(base64_ratio, 3)}"),
        row("`EncodeHeaderText`, 1 KB of Chinese text",
            f"{micro(encoding['BM_EncodeHeaderText']):,.2f} µs", none, none, none, none),
        row("`BuildHeaderBlock`, 5 recipients", f"{micro(encoding['BM_BuildHeaderBlock']):,.2f} µs",
            none, none, none, none),
        row("`ParseAddressList`, 10,000 addresses",
            f"{micro(encoding['BM_ParseAddressList']) / 1e3:,.2f} ms", none, none, none, none),
        row("`ReadReply`, 512 KiB multi-line reply over loopback",
            f"{micro(encoding['BM_ReadReply']) / 1e3:,.2f} ms "
            f"({rate(encoding['BM_ReadReply']):,.0f} MB/s)", none, none, none, none),
        row(f"{MESSAGES:,} messages of 1 KB through one `Connect` to smtp-sink",
            f"{rate_ours:,.0f} msg/s", "curl, one connection", f"{rate_peer:,.0f} msg/s",
            f"{rate_ours / rate_peer:.2f}", f"≥ 1: {verdict(rate_ours / rate_peer, 1)}"),
        row(f"`Connect` with AUTH LOGIN to aiosmtpd, median of {LOGINS}",
            f"{ours_login * 1e3:.2f} ms", "curl, up to the transfer", f"{curl_login * 1e3:.2f} ms",
            f"{curl_login / ours_login:.2f}", none),
        row("`SendMail` of a 20 MiB body to smtp-sink, wall time", f"{ours_large * 1e3:,.0f} ms",
            "curl, same message", f"{curl_large * 1e3:,.0f} ms",
            f"{curl_large / ours_large:.2f}", f"≥ 1: {verdict(curl_large / ours_large, 1)}"),
        row("the same, peak resident memory of the process", f"{ours_peak / MIB:.1f} MiB",
            "curl, same message", f"{curl_peak / MIB:.1f} MiB", f"{curl_peak / ours_peak:.2f}",
            f"≤ 2.5 × body + 5 MB = {memory_limit / MIB:.1f} MiB: "
            + ("met" if ours_peak <= memory_limit else "**missed**")),
    ]
    table = "\n".join(lines) + "\n"
    with open(os.path.join(build, "bench-table.md"), "w") as file:
        file.write(table)
    print(table, end="")


if __name__ == "__main__":
    try:
        main()
    finally:
        stop_children()

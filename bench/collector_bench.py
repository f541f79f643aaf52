#!/usr/bin/env python3
"""kxcollect under load (run by bench/collector_run with an optimized build).

Intake: 50 concurrent clients upload 2,000 reports of 50 KB, each with a PNG
screenshot, in the library's own multipart form (one connection per upload,
as the library sends); every report must be stored: reports per second and
the latency percentiles, for SQLite and for PostgreSQL (a cluster of the
benchmark's own).

Pages: a store of 100,000 reports (one group of 50,250, the rest in groups
of 250), rows made in the database itself; the groups page and the big
group's page are fetched repeatedly: median and p95 render time.
"""
import argparse
import http.client
import io
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "collector"))
import collector_peers as peers  # noqa: E402

BOUNDARY = b"kx30a7c9e2d41b_multipart_boundary"  # the library's


def png(seed):
    from PIL import Image
    rnd = random.Random(seed)
    img = Image.new("RGB", (160, 60))
    img.putdata([(rnd.randrange(256), rnd.randrange(256), rnd.randrange(256)) for _ in range(160 * 60)])
    out = io.BytesIO()
    img.save(out, "PNG")
    return out.getvalue()


def report(i, size=50 * 1024):
    group = i % 20
    head = ("date/time        : 2026-12-%02d, 10:%02d:%02d, 1ms\r\ncomputer name    : PC%d\r\n"
            "executable       : bench.exe\r\nversion          : 1.%d.0.0\r\n"
            "callstack crc    : $%08x, $%08x, $0000%04x\r\nexception number : 1\r\n"
            "exception class  : EBench%d\r\nexception message: Bench crash %d.\r\n\r\n"
            "main thread ($1a4):\r\n00402110 +0030 bench.exe bench  86   +3 Crash%d\r\n"
            "00402136 +0006 bench.exe bench 310   +0 Run\r\n\r\nmodules:\r\n"
            % (1 + i % 28, i % 60, i % 60, i % 50, i % 5, 0x1000 + group, 0x2000 + group, i, group, group, group))
    line = "7b600000 kernel32.dll   10.0.18362.1350  C:\\windows\\system32\r\n"
    body = head + line * ((size - len(head)) // len(line) + 1)
    return body[:size].encode("latin-1")


def upload_body(rep, shot):
    def part(name, filename, data):
        return (b"\r\n--" + BOUNDARY + b'\r\nContent-Disposition: form-data; name="' + name + b'"; filename="' +
                filename + b'"\r\nContent-Type: application/octet-stream\r\n\r\n' + data)
    fields = b"\r\n--" + BOUNDARY + b'\r\nContent-Disposition: form-data; name="MailFrom"\r\n\r\nbench@x'
    body = fields + part(b"BugReport", b"bugreport.txt", rep) + part(b"ScreenShot", b"screenshot.png", shot)
    return (body + b"\r\n--" + BOUNDARY + b"--\r\n")[2:]


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100 * (len(values) - 1))))]


def intake(exe, store, label, clients, total):
    data = tempfile.mkdtemp(prefix="kxbench-" + label)
    collector = peers.Collector(exe, data, store, ["--threads", str(clients)])
    shots = [png(k) for k in range(8)]
    bodies = [upload_body(report(i), shots[i % len(shots)]) for i in range(total)]
    latencies, failures = [], []
    lock = threading.Lock()
    next_index = [0]

    def client():
        while True:
            with lock:
                i = next_index[0]
                next_index[0] += 1
            if i >= total:
                return
            start = time.perf_counter()
            conn = http.client.HTTPConnection("127.0.0.1", collector.port, timeout=120)
            try:
                conn.request("POST", "/upload", bodies[i], {
                    "Content-Type": "multipart/form-data; boundary=" + BOUNDARY.decode(), "Connection": "close"})
                status = conn.getresponse().status
            except OSError as e:
                status = str(e)
            finally:
                conn.close()
            with lock:
                latencies.append(time.perf_counter() - start)
                if status != 200:
                    failures.append(status)

    started = time.perf_counter()
    threads = [threading.Thread(target=client) for _ in range(clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    elapsed = time.perf_counter() - started
    groups = collector.api("/api/groups")
    stored = sum(g["count"] for g in groups)
    collector.stop()
    if failures:
        print("failed uploads:", sorted(set(map(str, failures))))
        with open(collector.log.name, "rb") as f:
            sys.stdout.write(f.read()[-3000:].decode("utf-8", "replace"))
    shutil.rmtree(data, ignore_errors=True)
    print("intake %-10s %d clients, %d reports of %d KB + a %d KB PNG: %d stored, %d failed, %.0f reports/s, "
          "latency median %.0f ms, p99 %.0f ms" % (label, clients, total, len(report(0)) // 1024,
                                                   len(shots[0]) // 1024, stored,
                                                   len(failures), total / elapsed,
                                                   statistics.median(latencies) * 1000,
                                                   percentile(latencies, 99) * 1000))
    return stored == total and not failures


# 100,000 reports made in the database: one big group and groups of 250.
FILL = {
    "sqlite": """
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200)
INSERT INTO groups (gkey, exception_class, exception_message, location, executable, first_seen, last_seen)
SELECT 'bench' || i, 'EBench' || (i % 12), 'Bench crash ' || i || '.', 'bench 86 +3 Crash' || i, 'bench.exe',
       '2026-01-01 00:00:00', '2026-01-01 00:00:00' FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000)
INSERT INTO reports (group_id, received, occurred, computer, version, count, source, fingerprint, named)
SELECT (SELECT id FROM groups WHERE gkey = 'bench' || CASE WHEN i <= 50250 THEN 1 ELSE 2 + (i - 50251) / 250 END),
       '2026-12-08 00:00:00', datetime('2026-01-01', '+' || (i % 300) || ' days', '+' || (i % 86400) || ' seconds'),
       'PC' || (i % 700), '1.' || (i % 9) || '.0.0', 1, 'upload', '', 0 FROM n;
""",
    "postgresql": """
INSERT INTO groups (gkey, exception_class, exception_message, location, executable, first_seen, last_seen)
SELECT 'bench' || i, 'EBench' || (i % 12), 'Bench crash ' || i || '.', 'bench 86 +3 Crash' || i, 'bench.exe',
       '2026-01-01 00:00:00', '2026-01-01 00:00:00' FROM generate_series(1, 200) i;
INSERT INTO reports (group_id, received, occurred, computer, version, count, source, fingerprint, named)
SELECT (SELECT id FROM groups WHERE gkey = 'bench' || CASE WHEN i <= 50250 THEN 1 ELSE 2 + (i - 50251) / 250 END),
       '2026-12-08 00:00:00',
       to_char(timestamp '2026-01-01' + (i % 300) * interval '1 day' + (i % 86400) * interval '1 second',
               'YYYY-MM-DD HH24:MI:SS'),
       'PC' || (i % 700), '1.' || (i % 9) || '.0.0', 1, 'upload', '', 0 FROM generate_series(1, 100000) i;
""",
}
# The aggregates, as the store keeps them.
AGGREGATES = """
INSERT INTO attachments (report_id, position, name, field, kind, hash, size)
SELECT id, 0, 'bugreport.txt', 'BugReport', 'report', '{hash}', {size} FROM reports;
INSERT INTO group_users (group_id, computer) SELECT DISTINCT group_id, computer FROM reports;
INSERT INTO group_versions (group_id, version, count, first_seen, last_seen)
SELECT group_id, version, SUM(count), MIN(occurred), MAX(occurred) FROM reports GROUP BY group_id, version;
INSERT INTO group_days (group_id, day, count)
SELECT group_id, SUBSTR(occurred, 1, 10), SUM(count) FROM reports GROUP BY group_id, SUBSTR(occurred, 1, 10);
UPDATE groups SET count = (SELECT SUM(count) FROM reports r WHERE r.group_id = groups.id),
                  first_seen = (SELECT MIN(occurred) FROM reports r WHERE r.group_id = groups.id),
                  last_seen = (SELECT MAX(occurred) FROM reports r WHERE r.group_id = groups.id),
                  users = (SELECT COUNT(*) FROM group_users u WHERE u.group_id = groups.id),
                  versions = '1.0.0.0, 1.1.0.0, 1.2.0.0, 1.3.0.0, 1.4.0.0, 1.5.0.0, 1.6.0.0, 1.7.0.0, 1.8.0.0';
"""


def sql_script(exe, label, data, store, cluster):
    """A store holding one imported report (schema and its file), then the rows."""
    sample = os.path.join(data, "sample.txt")
    with open(sample, "wb") as f:
        f.write(report(0))
    result = peers.run_import(exe, data, [sample], store)
    assert result.returncode == 0, result.stderr
    attachments = os.path.join(data, "attachments")
    digest = next(sub + name for sub in os.listdir(attachments)
                  for name in os.listdir(os.path.join(attachments, sub)) if not name.startswith("."))
    script = "DELETE FROM attachments; DELETE FROM group_days; DELETE FROM group_versions; DELETE FROM group_users;" \
             "DELETE FROM reports; DELETE FROM groups;" + FILL[label] + \
             AGGREGATES.format(hash=digest, size=len(report(0)))
    if label == "sqlite":
        import sqlite3
        db = sqlite3.connect(os.path.join(data, "kxcollect.sqlite"))
        db.executescript(script)
        db.commit()
        db.close()
    else:
        psql = os.path.join(cluster.bin, "psql")
        subprocess.run([psql, "-q", "-v", "ON_ERROR_STOP=1", store, "-c", script, "-c", "ANALYZE"], check=True)


def render(exe, label, store, cluster, rounds):
    data = tempfile.mkdtemp(prefix="kxbench-render-" + label)
    sql_script(exe, label, data, store, cluster)
    collector = peers.Collector(exe, data, store)
    big = max(collector.api("/api/groups?sort=count"), key=lambda g: g["count"])
    total = sum(g["count"] for g in collector.api("/api/groups"))
    results = []
    for name, path in (("groups page", "/"), ("group page", "/groups/%d" % big["id"])):
        times = []
        for _ in range(rounds + 1):
            start = time.perf_counter()
            page = collector.get(path)
            times.append(time.perf_counter() - start)
        times = times[1:]  # the first fetch warms the caches
        assert b"</html>" in page
        results.append("%s %.1f ms (p95 %.1f)" % (name, statistics.median(times) * 1000, percentile(times, 95) * 1000))
    collector.stop()
    shutil.rmtree(data, ignore_errors=True)
    print("render %-10s %d reports stored, big group %d: median %s" % (label, total, big["count"], ", ".join(results)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("kxcollect")
    parser.add_argument("--clients", type=int, default=50)
    parser.add_argument("--reports", type=int, default=2000)
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--stores", default="sqlite,postgresql")
    args = parser.parse_args()
    ok = True
    for label in args.stores.split(","):
        cluster = peers.PostgresCluster() if label == "postgresql" else None
        try:
            store = cluster.create_database("intake") if cluster else None
            ok &= intake(args.kxcollect, store, label, args.clients, args.reports)
            store = cluster.create_database("render") if cluster else None
            render(args.kxcollect, label, store, cluster, args.rounds)
        finally:
            if cluster:
                cluster.stop()
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()

"""Turns the lab's merged journal (lab marks, client, edge and server lines on one monotonic clock) into
figures with bounds, a timeline and results.json. The bounds and how they are made are in README.md."""
import math
import re

# Library timings the bounds are built from.
SETTLE_MS = 300          # an address change reaches the detection machines this long after it is seen
CONFIRMATIONS = 3        # direct tests needed before the office is believed again
CONFIRM_GAP_MS = 1000    # between two of them
REFRESH_RATE = 0.7       # of the X-Auth cookie's lifetime
# Allowances for the lab's own links and machine (veth pairs, a shared 2-core host).
DNS_MS = 100             # one lookup at a resolver one hop away
CONNECT_MS = 100         # one TCP connect one hop away
HTTPS_MS = 500           # one HTTPS request to the edge (handshake included)
HANDOFF_MS = 100         # a notice passing the library's worker threads to the observer
EDGE_TRANSFER_LIMIT_MS = 60000  # an edge configuration request's own transfer limit

KV = re.compile(r"(\w+)=(\S*)")


def kv(text):
    return dict(KV.findall(text))


def bounds(args):
    leave = SETTLE_MS + 2 * DNS_MS + HANDOFF_MS
    config = leave + HTTPS_MS + HANDOFF_MS
    back = SETTLE_MS + DNS_MS + (CONFIRMATIONS - 1) * CONFIRM_GAP_MS + CONFIRMATIONS * (DNS_MS + CONNECT_MS) \
        + HANDOFF_MS
    return {
        "leave_ms": leave,
        "config_ms": config,
        "back_ms": back,
        "gap_ms": args.interval_ms + CONNECT_MS + HTTPS_MS,
        # The first failed-over request reports node 1; the next request finds its configuration's server
        # failed and fetches a new configuration from node 2.
        "switch_ms": args.interval_ms + CONNECT_MS + HTTPS_MS + HANDOFF_MS + HTTPS_MS,
        "refresh_low_ms": REFRESH_RATE * args.lifetime * 1000 - 1000,
        "refresh_high_ms": REFRESH_RATE * args.lifetime * 1000 + 1000,
        "stop_ms": EDGE_TRANSFER_LIMIT_MS + HTTPS_MS + HANDOFF_MS,
        # The storm leaves the client where it was; the last change is one more move back to the office.
        "storm_ms": back,
    }


class Journal:
    def __init__(self, lines):
        self.lines = lines

    def marks(self, prefix):
        return [(t, x) for t, s, x in self.lines if s == "lab" and x.startswith(prefix)]

    def mark(self, prefix):
        m = self.marks(prefix)
        return m[0] if m else (None, None)

    def first(self, source, prefix, after, before=math.inf, where=lambda d: True):
        for t, s, x in self.lines:
            if s == source and x.startswith(prefix) and after <= t < before and where(kv(x)):
                return t, kv(x)
        return None, None

    def all(self, source, prefix, after=-math.inf, before=math.inf):
        return [(t, kv(x)) for t, s, x in self.lines if s == source and x.startswith(prefix) and after <= t < before]

    def requests(self, after, before, mode="started"):
        """Requests started in [after, before) ("started"), entirely inside it ("inside"), or in flight at
        some moment of it ("overlap")."""
        out = []
        for t, s, x in self.lines:
            if s == "client" and x.startswith("req "):
                d = kv(x)
                start = float(d.get("start", t))
                stop = start + float(d.get("ms", 0))
                chosen = {"started": after <= start < before,
                          "inside": after <= start and stop < before,
                          "overlap": stop >= after and start < before}[mode]
                if chosen:
                    d["t"] = start
                    out.append(d)
        return out


def failed(r):
    return r.get("result") != "SUCCESS" or r.get("status") != "200"


def analyse(lines, args, duration, error):
    j = Journal(lines)
    b = bounds(args)
    figures = []

    def figure(phase, name, value, bound, ok, unit="", note=""):
        figures.append({"phase": phase, "name": name, "value": value, "bound": bound, "unit": unit,
                        "ok": bool(ok), "note": note})

    p = {n: j.mark("phase %d" % n)[0] for n in range(1, 7)}
    end = j.mark("end")[0] or (lines[-1][0] if lines else 0)
    misrouted = {}

    # 1. Office: everything direct.
    start_t, start = j.first("client", "start ", -math.inf)
    hotel_t = kv(j.mark("moved hotel")[1] or "")
    office_t = kv(j.mark("moved office")[1] or "")
    if p[1] is not None and p[2] is not None:
        figure(1, "internal visible at start", start.get("internal") if start else None, "1",
               start is not None and start.get("internal") == "1")
        # A request still on its way when the client moves belongs to the move.
        reqs = j.requests(p[1], float(hotel_t.get("start", p[2])), "inside")
        bad = [r for r in reqs if failed(r)]
        wrong = [r for r in reqs if r.get("route") != "direct"]
        misrouted[1] = len(wrong)
        figure(1, "requests failed", len(bad), 0, not bad and len(reqs) > 0, note="%d requests" % len(reqs))

    # 2. To the hotel.
    moved_t, moved = j.mark("moved hotel")
    t_config = None
    if moved_t is not None:
        t0 = float(kv(moved)["start"])
        t_vis, _ = j.first("client", "obs visibility", t0, where=lambda d: d["internal"] == "0" and d["edge"] == "1")
        t_config, _ = j.first("client", "obs config", t0)
        figure(2, "address change -> transition notified", None if t_vis is None else round(t_vis - t0),
               b["leave_ms"], t_vis is not None and t_vis - t0 <= b["leave_ms"], "ms")
        figure(2, "address change -> edge configuration available",
               None if t_config is None else round(t_config - t0), b["config_ms"],
               t_config is not None and t_config - t0 <= b["config_ms"], "ms")
        window_end = t_config if t_config is not None else p[3] or end
        between = j.requests(t0, window_end, "overlap")
        # Those started within the bound, and the one on its way when the client moved.
        ticks = math.ceil(b["config_ms"] / args.interval_ms) + 1
        figure(2, "requests failed between change and configuration", len([r for r in between if failed(r)]),
               ticks, len([r for r in between if failed(r)]) <= ticks, note="%d requests" % len(between))
        after = j.requests(t_vis, p[5] or end) if t_vis is not None else []
        misrouted[2] = len([r for r in after if r.get("route") == "direct"])

    # 3. The stay: no failure, refreshes at 70 % of the cookie's life.
    if p[3] is not None and p[4] is not None:
        reqs = j.requests(p[3], p[4], "inside")
        bad = [r for r in reqs if failed(r)]
        figure(3, "requests failed during the stay", len(bad), 0, not bad and reqs, note="%d requests" % len(reqs))
        start_at = t_config if t_config is not None else p[3]
        # The session is renewed by get_edge_refresh when the timer fires, or by a new get_edge_config when
        # a request finds the configuration due first; either way the edge sees a renewal.
        renewals = [(t, d.get("endpoint")) for t, d in j.all("edge", "edge node", start_at - 2000, p[4])
                    if d.get("endpoint") in ("config", "refresh") and d.get("status") == "200"]
        intervals = [round(b2[0] - a2[0]) for a2, b2 in zip(renewals, renewals[1:])]
        late = [i for i in intervals if not b["refresh_low_ms"] <= i <= b["refresh_high_ms"]]
        expected = int((p[4] - start_at) // b["refresh_high_ms"])
        kinds = [k for _, k in renewals[1:]]
        figure(3, "session renewals", len(intervals), ">= %d" % expected, len(intervals) >= max(1, expected),
               note="%d get_edge_refresh, %d get_edge_config" % (kinds.count("refresh"), kinds.count("config")))
        figure(3, "renewal intervals outside bound", len(late),
               "%d..%d ms" % (b["refresh_low_ms"], b["refresh_high_ms"]), not late and intervals,
               note="intervals " + ",".join(str(i) for i in intervals))

    # 4. Edge node 1 dies.
    t_kill, _ = j.first("edge", "refused node=0", -math.inf)
    if t_kill is not None:
        t_ok, _ = j.first("client", "req ", t_kill, where=lambda d: not failed(d)
                          and float(d.get("start", 0)) >= t_kill and d.get("route") == "edge")
        figure(4, "node 1 refused -> first request answered through node 2",
               None if t_ok is None else round(t_ok - t_kill), b["gap_ms"],
               t_ok is not None and t_ok - t_kill <= b["gap_ms"], "ms")
        reqs = j.requests(t_kill, float(office_t.get("start", p[5] or end)), "inside")
        bad = [r for r in reqs if failed(r)]
        figure(4, "requests failed after the node died", len(bad), 0, not bad and reqs,
               note="%d requests" % len(reqs))
        t_switch, d = j.first("client", "obs config", t_kill, where=lambda d: d["server"].startswith("edge2"))
        figure(4, "node 1 refused -> configuration from node 2",
               None if t_switch is None else round(t_switch - t_kill), b["switch_ms"],
               t_switch is not None and t_switch - t_kill <= b["switch_ms"], "ms")

    # 5. Back to the office.
    moved_t, moved = j.mark("moved office")
    if moved_t is not None:
        t0 = float(kv(moved)["start"])
        t_direct, _ = j.first("client", "obs visibility", t0, where=lambda d: d["internal"] == "1")
        figure(5, "address change -> direct again", None if t_direct is None else round(t_direct - t0),
               b["back_ms"], t_direct is not None and t_direct - t0 <= b["back_ms"], "ms")
        between = j.requests(t0, t_direct if t_direct is not None else (p[6] or end), "overlap")
        ticks = math.ceil(b["back_ms"] / args.interval_ms) + 1
        bad = len([r for r in between if failed(r)])
        figure(5, "requests failed between change and direct", bad, ticks, bad <= ticks,
               note="%d requests" % len(between))
        if t_direct is not None:
            after = j.requests(t_direct, p[6] or end, "inside")
            misrouted[5] = len([r for r in after if r.get("route") != "direct"])
            figure(5, "requests failed once direct", len([r for r in after if failed(r)]), 0,
                   not [r for r in after if failed(r)])

    # 6. The storm.
    storm_t, storm = j.mark("storm")
    if storm_t is not None:
        d = kv(storm)
        s0, s1 = float(d["start"]), float(d["end"])
        figure(6, "address changes made", int(d["changes"]), "%d in %.1f s" % (args.storm_changes, args.storm_seconds),
               int(d["changes"]) == args.storm_changes and s1 - s0 <= args.storm_seconds * 1000 + 500,
               note="%.0f ms" % (s1 - s0))
        notices = j.all("client", "obs visibility", s0, end)
        states = [(t, n["internal"], n["edge"]) for t, n in notices]
        # The state the client ends in, and when it last changed to it.
        last_change = None
        previous = None
        for t, i, e in [(None, "1", None)] + states:
            if previous is not None and i != previous:
                last_change = t
            previous = i
        final_internal = states[-1][1] if states else "1"
        changes_after = len([1 for k, (t, i, e) in enumerate(states)
                             if t > s1 and (k == 0 or states[k - 1][1] != i)])
        figure(6, "final state", "internal" if final_internal == "1" else "edge", "internal",
               final_internal == "1")
        settle = 0 if last_change is None or last_change <= s1 else round(last_change - s1)
        figure(6, "storm end -> settled", settle, b["storm_ms"], settle <= b["storm_ms"], "ms",
               note="%d visibility notices" % len(states))
        figure(6, "state changes after the storm", changes_after, "<= 1", changes_after <= 1)
        settled_at = max(s1, last_change or s1)
        after = j.requests(settled_at, end)
        misrouted[6] = len([r for r in after if r.get("route") != "direct"])
        figure(6, "requests failed once settled", len([r for r in after if failed(r)]), 0,
               not [r for r in after if failed(r)], note="%d requests" % len(after))

    # Stopping ends the edge session, which may wait for an edge request in flight (60 s transfer limit).
    exited = kv(j.mark("client exited")[1] or "")
    figure(7, "client stopped: exit status", exited.get("rc"), 0, exited.get("rc") == "0")
    stop_ms = float(exited["ms"]) if "ms" in exited else None
    figure(7, "quit -> client exited", None if stop_ms is None else round(stop_ms), b["stop_ms"],
           stop_ms is not None and stop_ms <= b["stop_ms"], "ms")

    for phase in sorted(misrouted):
        figure(phase, "requests misrouted", misrouted[phase], 0, misrouted[phase] == 0)
    figures.sort(key=lambda f: f["phase"])

    per_phase = {}
    bounds_of_phases = [p[n] for n in range(1, 7)] + [end]
    for n in range(1, 7):
        lo, hi = bounds_of_phases[n - 1], next((x for x in bounds_of_phases[n:] if x is not None), end)
        if lo is None:
            continue
        reqs = j.requests(lo, hi)
        per_phase[n] = {"requests": len(reqs), "failed": len([r for r in reqs if failed(r)]),
                        "direct": len([r for r in reqs if r.get("route") == "direct"]),
                        "edge": len([r for r in reqs if r.get("route") == "edge"])}
    complete = all(p[n] is not None for n in range(1, 7)) and error is None
    return {
        "passed": complete and all(f["ok"] for f in figures),
        "error": error,
        "duration_s": round(duration, 1),
        "settings": {"stay_s": args.stay, "cookie_lifetime_s": args.lifetime, "interval_ms": args.interval_ms,
                     "storm_changes": args.storm_changes, "storm_s": args.storm_seconds},
        "bounds": b,
        "figures": figures,
        "phases": per_phase,
    }


def timeline_text(lines):
    """Every lab mark, notice, edge request and failed or re-routed request; successful requests only
    when their route or server changes."""
    if not lines:
        return ""
    origin = lines[0][0]
    out = []
    last_route = None
    for t, s, x in lines:
        if s == "client" and x.startswith("req "):
            d = kv(x)
            route = (d.get("route"), d.get("server"))
            if not failed(d) and route == last_route:
                continue
            last_route = route if not failed(d) else last_route
        if s == "edge" and "endpoint=forward" in x and "status=200" in x:
            continue
        out.append("%10.3f  %-12s %s" % ((t - origin) / 1000.0, s, x))
    return "\n".join(out) + "\n"


def render(report, lines):
    rows = ["", "timeline (s, from the lab's start; requests shown when they fail or change route):"]
    text = timeline_text(lines).splitlines()
    if len(text) > 200:
        text = text[:100] + ["   ... %d lines, see timeline.txt ..." % (len(text) - 200)] + text[-100:]
    rows += text
    rows += ["", "%-5s %-56s %10s %14s  %s" % ("phase", "figure", "value", "bound", "ok")]
    for f in report["figures"]:
        value = "-" if f["value"] is None else str(f["value"])
        if f["unit"] and f["value"] is not None:
            value += " " + f["unit"]
        note = ("   (" + f["note"] + ")") if f["note"] else ""
        rows.append("%-5s %-56s %10s %14s  %s%s" % (f["phase"], f["name"], value, f["bound"],
                                                    "yes" if f["ok"] else "NO", note))
    rows += ["", "requests by the phase they started in:",
             "%-5s %9s %7s %7s %7s" % ("phase", "requests", "failed", "direct", "edge")]
    for n, c in sorted(report["phases"].items()):
        rows.append("%-5s %9d %7d %7d %7d" % (n, c["requests"], c["failed"], c["direct"], c["edge"]))
    if report["error"]:
        rows.append("\nerror: " + report["error"])
    rows.append("\nlab: %s in %.0f s" % ("PASSED" if report["passed"] else "FAILED", report["duration_s"]))
    return "\n".join(rows)

"""Prints the table of bench/compare.sh.

usage: report.py RESULTS MEMORY

RESULTS holds one line per run, "LABEL|IN_FLIGHT|AGENT|RESULT key=value ...",
as bench/loadgen prints it; MEMORY one line per agent and moment,
"AGENT before|after RSS_KB RSS_ANON_KB". CPU time is per request, or per
object received for walks (labels that say "walk"). Each cell is the median
of the runs, with min-max for the CPU time.
"""

import statistics
import sys

AGENTS = ("ours", "snmpd", "null")
FAULTS = ("timeouts", "errors", "exceptions", "reports", "send_failures")


def parse_runs(path):
    """{(label, in_flight): {agent: [fields of each run]}}, labels in the
    order of their first run, and each label's in-flight counts so too."""
    groups = {}
    with open(path) as results:
        for line in results:
            parts = line.rstrip("\n").split("|", 3)
            if len(parts) != 4:
                continue
            label, in_flight, agent, result = parts
            fields = dict(item.split("=", 1) for item in result.split()[1:] if "=" in item)
            groups.setdefault((label, in_flight), {}).setdefault(agent, []).append(fields)
    labels = list(dict.fromkeys(label for label, _ in groups))
    return dict(sorted(groups.items(), key=lambda item: labels.index(item[0][0])))


def cpu_per_operation(fields, per_object):
    nanos = float(fields.get("agent_cpu_ns", -1))
    operations = float(fields.get("objects" if per_object else "answered", 0))
    if nanos < 0 or operations <= 0:
        return None
    return nanos / 1000.0 / operations


def summarize(runs, per_object):
    """Medians of a list of runs, and the failed runs' faults."""
    failed = [r for r in runs if r.get("status") != "ok"]
    cpu = [c for c in (cpu_per_operation(r, per_object) for r in runs) if c is not None]
    median = lambda key: statistics.median(float(r.get(key, 0)) for r in runs)
    faults = {k: sum(int(r.get(k, 0)) for r in failed) for k in FAULTS}
    return {
        "cpu": statistics.median(cpu) if cpu else None,
        "cpu_range": (min(cpu), max(cpu)) if cpu else None,
        "rate": median("req_per_s"),
        "p50": median("p50_us"),
        "p99": median("p99_us"),
        "failed": len(failed),
        "runs": len(runs),
        "faults": ", ".join(f"{k} {v}" for k, v in faults.items() if v),
    }


def print_table(groups):
    header = (f"{'scenario':<27}{'n':>3}  {'agent':<6}{'CPU us/op (min-max)':>26}"
              f"{'req/s':>9}{'p50 us':>8}{'p99 us':>8}{'snmpd/ours':>12}  status")
    print(header)
    print("-" * len(header))
    previous_label = None
    for (label, in_flight), by_agent in groups.items():
        per_object = "walk" in label
        if previous_label is not None and label != previous_label:
            print()
        previous_label = label
        summaries = {a: summarize(by_agent[a], per_object) for a in AGENTS if a in by_agent}
        first = True
        for agent, s in summaries.items():
            unit = "/obj" if per_object else "/req"
            cpu = "-"
            if s["cpu"] is not None:
                low, high = s["cpu_range"]
                digits = 2 if high < 10 else 1  # sub-microsecond costs need two
                cpu = f"{s['cpu']:.{digits}f}{unit} ({low:.{digits}f}-{high:.{digits}f})"
            ratio = ""
            ours = summaries.get("ours")
            if agent == "snmpd" and ours and ours["cpu"] and s["cpu"]:
                ratio = f"{s['cpu'] / ours['cpu']:.2f}x"
            status = "ok"
            if s["failed"]:
                status = f"FAILED {s['failed']}/{s['runs']} ({s['faults'] or 'no answer'})"
            print(f"{label if first else '':<27}{in_flight if first else '':>3}  {agent:<6}"
                  f"{cpu:>26}{s['rate']:>9.0f}{s['p50']:>8.0f}{s['p99']:>8.0f}{ratio:>12}"
                  f"  {status}")
            first = False


# Scenario pairs whose CPU per operation is compared: (label, agent) against
# (baseline label, agent). compare.sh runs them side by side in every round,
# so each round's two runs make one ratio, and the load of the moment weighs
# on both. SNMPv3 Gets are measured against the floor: the null responder's
# v2c Get, which does no SNMP work at all.
RATIOS = (
    (("GetBulk(25) walk 1M routes", "ours"), ("GetBulk(25) walk 100 routes", "ours")),
    (("v3 authNoPriv SHA Get", "ours"), ("v2c Get sysUpTime.0", "null")),
    (("v3 authPriv SHA+AES Get", "ours"), ("v2c Get sysUpTime.0", "null")),
)


def print_ratios(groups):
    """CPU per operation of each pair, round by round."""
    for (label, agent), (baseline, base_agent) in RATIOS:
        per_object = "walk" in label
        for (name, in_flight), by_agent in groups.items():
            base = groups.get((baseline, in_flight), {}).get(base_agent)
            if name != label or agent not in by_agent or not base:
                continue
            ratios = []
            for run, base_run in zip(by_agent[agent], base):
                cpu = cpu_per_operation(run, per_object)
                base_cpu = cpu_per_operation(base_run, per_object)
                if cpu and base_cpu:
                    ratios.append(cpu / base_cpu)
            if ratios:
                print(f"{label} ({agent}) / {baseline} ({base_agent}), {in_flight} in flight:"
                      f" {statistics.median(ratios):.2f}x"
                      f" ({min(ratios):.2f}-{max(ratios):.2f}, {len(ratios)} rounds)")


def print_memory(path):
    memory = {}
    with open(path) as lines:
        for line in lines:
            parts = line.split()
            if len(parts) == 4:
                memory[(parts[0], parts[1])] = (int(parts[2]), int(parts[3]))
    print()
    print(f"{'memory (kB)':<12}{'RSS before':>12}{'RSS after':>12}"
          f"{'RssAnon before':>16}{'RssAnon after':>15}")
    for agent in AGENTS:
        before = memory.get((agent, "before"), (0, 0))
        after = memory.get((agent, "after"), (0, 0))
        print(f"{agent:<12}{before[0]:>12}{after[0]:>12}{before[1]:>16}{after[1]:>15}")
    # Further moments (the whole route walk's peak and the time after it).
    for (agent, moment), (rss, anon) in memory.items():
        if moment not in ("before", "after"):
            print(f"{agent:<12}{moment:<16}RSS {rss} kB, RssAnon {anon} kB")


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: report.py RESULTS MEMORY")
    groups = parse_runs(sys.argv[1])
    print_table(groups)
    print()
    print_ratios(groups)
    print_memory(sys.argv[2])


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""A small mutation tester: how many seeded faults in src/ do the tests catch?

  mutate.py sample [--seed N] [--count N] > MUTANTS      draw a fixed sample of mutants
  mutate.py run MUTANTS RESULTS [--build DIR] [--only ID,...]
                                                         apply each in turn, rebuild, run the
                                                         tests of its subsystem's label
  mutate.py compare BEFORE AFTER                         killed before, alive after

A mutant is one change to one line: a comparison flipped, a boundary moved by one, a
condition negated, && and || swapped, a statement deleted, a returned value changed. It is
found again by its line's text (also after the line has moved, or its fields were renamed
with m_), so the same sample can be run on a later tree. Results are appended one JSON line
per mutant: a run that stops resumes where it was. The source file is always restored.
"""
import json
import os
import random
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
BRIDGE_PATH = ("plugin", "session", "serialization", "net")

COMPARISON = {" == ": " != ", " != ": " == ", " < ": " >= ", " > ": " <= ", " <= ": " > ", " >= ": " < "}
BOUNDARY = {" < ": " <= ", " > ": " >= ", " <= ": " < ", " >= ": " > "}
LOGIC = {" && ": " || ", " || ": " && "}
STATEMENT = re.compile(
    r"^\s*(\+\+|--)?[A-Za-z_][\w:]*(\[[^\]]*\])?((->|\.)[A-Za-z_]\w*(\[[^\]]*\])?)*\s*"
    r"(\(|=[^=]|\+=|-=|\|=|&=|\+\+|--)")
OPERATOR_MIX = {"delete": 35, "negate": 20, "comparison": 15, "boundary": 10, "return": 10, "logic": 10}
KEYWORDS = ("return", "case", "default", "goto", "throw", "else", "break", "continue", "using",
            "typedef", "static_assert")


def masked(line):
    """The line with string and character literals and a trailing comment blanked out."""
    out, quote, i = [], None, 0
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                out.append("__")
                i += 2
                continue
            out.append(quote if c == quote else "_")
            quote = None if c == quote else quote
        elif c in "\"'":
            quote = c
            out.append(c)
        elif line.startswith("//", i):
            out.append(" " * (len(line) - i))
            break
        else:
            out.append(c)
        i += 1
    return "".join(out)[: len(line)]


def occurrences(text, needle):
    return [m.start() for m in re.finditer(re.escape(needle), text)]


def condition_spans(code):
    """(start, end) of the parenthesised condition of each if/while on the line."""
    spans = []
    for m in re.finditer(r"\b(if|while) \(", code):
        depth, start = 0, m.end() - 1
        for j in range(start, len(code)):
            depth += {"(": 1, ")": -1}.get(code[j], 0)
            if depth == 0:
                spans.append((start + 1, j))
                break
    return spans


def mutations(line, previous):
    """Every (op, index, mutated line) that applies to a line of code."""
    code = masked(line)
    stripped = code.strip()
    if (not stripped or stripped.startswith("#") or "operator" in code or "template" in code
            or "ASSERT" in code):
        return []
    found = []
    for op, table in (("comparison", COMPARISON), ("boundary", BOUNDARY), ("logic", LOGIC)):
        n = 0
        for needle, repl in table.items():
            for pos in occurrences(code, needle):
                if needle.strip() in "<>" and (code.count("<") != code.count(">") or "<<" in code):
                    continue  # a template argument list or a stream, not a comparison
                found.append((op, n, line[:pos] + repl + line[pos + len(needle):]))
                n += 1
    for n, (start, end) in enumerate(condition_spans(code)):
        found.append(("negate", n, line[:start] + "!(" + line[start:end] + ")" + line[end:]))
    ret = re.match(r"^(\s*return )(true|false|-?\d+|nullptr)(;.*)$", line)
    if ret:
        value = ret.group(2)
        new = {"true": "false", "false": "true", "nullptr": None}.get(value)
        if new is None and value != "nullptr":
            new = str(int(value) + 1) if value != "-1" else "0"
        if new:
            found.append(("return", 0, ret.group(1) + new + ret.group(3)))
    starts_statement = previous.rstrip().endswith((";", "{", "}", ":", ")")) or previous.strip() == ""
    if (stripped.endswith(";") and starts_statement and STATEMENT.match(code)
            and stripped.split("(")[0].split(" ")[0] not in KEYWORDS and "{" not in code and "}" not in code
            and "(*" not in code):
        indent = line[: len(line) - len(line.lstrip())]
        found.append(("delete", 0, indent + ";"))
    return found


def source_files():
    files = []
    for directory, _, names in os.walk(os.path.join(ROOT, "src")):
        for name in sorted(names):
            if name.endswith(".cpp"):
                files.append(os.path.relpath(os.path.join(directory, name), ROOT))
    return sorted(files)


def subsystem(path):
    return path.split("/")[1]


def candidates(path):
    with open(os.path.join(ROOT, path)) as f:
        lines = f.read().split("\n")
    result, in_comment, previous = [], False, ""
    for number, line in enumerate(lines, 1):
        if in_comment or line.strip().startswith("/*"):
            in_comment = "*/" not in line
            continue
        for op, index, mutated in mutations(line, previous):
            result.append({"file": path, "line": number, "op": op, "index": index,
                           "original": line, "mutated": mutated})
        if line.strip():
            previous = masked(line)
    return result


def sample(seed, count):
    rng = random.Random(seed)
    by_subsystem = {}
    for path in source_files():
        if "/xplm/" in path:
            continue
        by_subsystem.setdefault(subsystem(path), []).extend(candidates(path))
    lines = {}
    for path in source_files():
        with open(os.path.join(ROOT, path)) as f:
            lines[subsystem(path)] = lines.get(subsystem(path), 0) + sum(1 for l in f if l.strip())
    # Half the sample (at least) on the bridge's path, each half spread by lines of code.
    chosen = []
    for group, share in ((BRIDGE_PATH, (count + 1) // 2), (None, count // 2)):
        members = [s for s in sorted(by_subsystem) if (s in BRIDGE_PATH) == (group is not None)]
        total = sum(lines[s] for s in members)
        quotas = {s: share * lines[s] / total for s in members}
        taken = {s: int(q) for s, q in quotas.items()}
        for s in sorted(members, key=lambda s: quotas[s] - taken[s], reverse=True)[: share - sum(taken.values())]:
            taken[s] += 1
        for s in members:
            # The operators in a fixed mix, each mutant on a line of its own.
            by_op = {}
            for c in sorted(by_subsystem[s], key=lambda c: (c["file"], c["line"], c["op"], c["index"])):
                by_op.setdefault(c["op"], []).append(c)
            used = set()
            while taken[s] > 0:
                ops = [op for op in OPERATOR_MIX if any((c["file"], c["line"]) not in used for c in by_op.get(op, []))]
                if not ops:
                    break
                op = rng.choices(ops, weights=[OPERATOR_MIX[o] for o in ops])[0]
                pick = rng.choice([c for c in by_op[op] if (c["file"], c["line"]) not in used])
                used.add((pick["file"], pick["line"]))
                chosen.append(pick)
                taken[s] -= 1
    for n, c in enumerate(chosen, 1):
        c["id"] = n
    return chosen


def normalised(text):
    return re.sub(r"\bm_(\w)", r"\1", text).strip()


def locate(mutant):
    """(path, line index) where the mutant's line is now, or None."""
    want = mutant["original"]
    files = [mutant["file"]] if os.path.exists(os.path.join(ROOT, mutant["file"])) else []
    files += [f for f in source_files() if f not in files]
    for exact in (True, False):
        for path in files:
            with open(os.path.join(ROOT, path)) as f:
                lines = f.read().split("\n")
            hits = [i for i, l in enumerate(lines)
                    if (l == want if exact else normalised(l) == normalised(want))]
            if hits:
                best = min(hits, key=lambda i: abs(i + 1 - mutant["line"]))
                return path, best
    return None


def run_command(cmd, timeout):
    # In a session of its own, so that a hung test is ended with everything it started.
    process = subprocess.Popen(cmd, cwd=ROOT, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               start_new_session=True)
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()
        return "timeout"


def label_and_targets(path):
    s = subsystem(path)
    if s == "plugin":
        return "^(plugin|e2e)$", ["plugin_tests", "e2e_tests"]
    return f"^{s}$", ["corvane_tests"]


def run(mutants_file, results_file, build, only):
    with open(mutants_file) as f:
        mutants = [json.loads(l) for l in f if l.strip()]
    done = set()
    if os.path.exists(results_file):
        with open(results_file) as f:
            done = {json.loads(l)["id"] for l in f if l.strip()}
    for m in mutants:
        if m["id"] in done or (only and m["id"] not in only):
            continue
        started = time.time()
        where = locate(m)
        result = {"id": m["id"], "file": m["file"], "op": m["op"]}
        if where is None:
            result["status"] = "not found"
        else:
            path, index = where
            full = os.path.join(ROOT, path)
            with open(full) as f:
                text = f.read()
            lines = text.split("\n")
            before = [masked(l) for l in lines[:index] if l.strip()]
            options = [x for x in mutations(lines[index], before[-1] if before else "")
                       if x[0] == m["op"] and x[1] == m["index"]]
            if not options:
                result["status"] = "not found"
            else:
                lines[index] = options[0][2]
                label, targets = label_and_targets(path)
                try:
                    with open(full, "w") as f:
                        f.write("\n".join(lines))
                    built = run_command(["cmake", "--build", build, "-j2", "--target"] + targets, 900)
                    if built != 0:
                        result["status"] = "invalid"
                    else:
                        # A hang counts as caught: the bound is a few times the suite's own time.
                        tested = run_command(["ctest", "--test-dir", build, "-L", label, "-j2",
                                              "--stop-on-failure", "-E", "dnssd_sandbox"],
                                             240 if "e2e" in label else 90)
                        result["status"] = "survived" if tested == 0 else "killed"
                finally:
                    with open(full, "w") as f:
                        f.write(text)
                result["at"] = f"{path}:{index + 1}"
        result["seconds"] = round(time.time() - started, 1)
        print(json.dumps(result), flush=True)
        with open(results_file, "a") as f:
            f.write(json.dumps(result) + "\n")


def load(path):
    with open(path) as f:
        return {r["id"]: r for r in (json.loads(l) for l in f if l.strip())}


def summary(results):
    counted = [r for r in results.values() if r["status"] in ("killed", "survived")]
    killed = sum(1 for r in counted if r["status"] == "killed")
    return killed, len(counted)


def compare(before_file, after_file):
    before, after = load(before_file), load(after_file)
    for name, results in (("before", before), ("after", after)):
        killed, valid = summary(results)
        print(f"{name}: {killed} of {valid} valid mutants killed ({100.0 * killed / max(valid, 1):.1f}%)")
    lost = [i for i in sorted(before) if before[i]["status"] == "killed"
            and after.get(i, {}).get("status") != "killed"]
    for i in lost:
        print(f"killed before, {after.get(i, {}).get('status', 'not run')} after: #{i} "
              f"{after.get(i, before[i]).get('at', before[i]['file'])} ({before[i]['op']})")
    return 1 if lost else 0


def main(argv):
    if argv and argv[0] == "sample":
        seed = int(argv[argv.index("--seed") + 1]) if "--seed" in argv else 13
        count = int(argv[argv.index("--count") + 1]) if "--count" in argv else 160
        for m in sample(seed, count):
            print(json.dumps(m))
        return 0
    if argv and argv[0] == "run" and len(argv) >= 3:
        build = argv[argv.index("--build") + 1] if "--build" in argv else os.path.join(ROOT, "build")
        only = {int(x) for x in argv[argv.index("--only") + 1].split(",")} if "--only" in argv else set()
        run(argv[1], argv[2], os.path.abspath(build), only)
        return 0
    if argv and argv[0] == "compare" and len(argv) == 3:
        return compare(argv[1], argv[2])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

"""What /proc tells of a launcher under test: its process tree, the page
processes of its web engine, their memory, its open files and threads."""
import os

WEB_PROCESS = "WebKitWebProces"  # the engine's page process, as /proc/*/comm cuts it


def descendants(pid):
    """pid and every process below it."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
        except (OSError, IndexError, ValueError):
            continue
        children.setdefault(ppid, []).append(int(entry))
    out, todo = [], [pid]
    while todo:
        p = todo.pop()
        out.append(p)
        todo.extend(children.get(p, []))
    return out


def name(pid):
    try:
        with open("/proc/%d/comm" % pid) as f:
            return f.read().strip()
    except OSError:
        return None


def web_processes(pid):
    """The page processes below the launcher `pid`, as a set."""
    return {p for p in descendants(pid) if name(p) == WEB_PROCESS}


def memory_kib(pids, fields=("Rss", "Pss")):
    """The /proc smaps_rollup `fields` in KiB (RSS and PSS unless told), each
    summed over `pids`; a process that has gone counts 0."""
    sums = [0] * len(fields)
    for p in pids:
        try:
            with open("/proc/%d/smaps_rollup" % p) as f:
                for line in f:
                    name, _, value = line.partition(":")
                    if name in fields:
                        sums[fields.index(name)] += int(value.split()[0])
        except OSError:
            continue
    return tuple(sums)


def open_files(pid):
    return len(os.listdir("/proc/%d/fd" % pid))


def threads(pid):
    return len(os.listdir("/proc/%d/task" % pid))

#!/usr/bin/env python3
"""Torture suite for results.csv and the settings store: kills, power cuts, I/O faults, full and
read-only disks, through torture_logger (the session code) and the kiosk binary.
  torture.py small|full [--build DIR] [--only kill,powercut,kiosk,sweep,conditions] [--seed N]
Each scenario prints "NAME: acknowledged=N lost=N duplicated=N torn=N crashed=N silent=N"; the
run exits 1 when any count but the first is above 0, 77 when every scenario was skipped.
lost: a session reported durable (ack, or addToCsv true) missing after recovery. duplicated:
extra rows of one session. torn: a line not its session's row, a row out of order, a broken
header or unfinished line, a file system fsck cannot repair. crashed: a signal we did not send,
a failed exit, a hang. silent: a fault took effect, an answered session is missing or doubled,
and nothing (an ALERT, a false return, a line on stderr) said so. Mounts need root; the script
runs itself in a private mount namespace so they vanish with it."""
import argparse, calendar, contextlib, itertools, os, random, re, shutil, signal, subprocess, sys
import tempfile, threading, time

SIZES = {  # driver kills, driver power cuts, kiosk kills, kiosk cuts, kiosk sync instants, sweep
    'small': dict(kills=120, cuts=30, kkills=6, kcuts=4, instants=2, sweep=0.12),
    'full': dict(kills=1000, cuts=300, kkills=100, kcuts=40, instants=10, sweep=1.0)}
KEYS = ('lost', 'duplicated', 'torn', 'crashed', 'silent')
HEADER = b'#,Start Date,Score,Wants Help,Q1,Q2,Q3,Q4,Q5,Q6,Q7,Q8\n'
EPOCHS = itertools.count(1_400_100_000, 100_000)

def epoch():  # a fresh clock start per process, so every session's start second is its own
    return str(next(EPOCHS))

def expected(s):  # torture_logger's row for the session starting at second s, less "#,"
    h = (s * 2654435761) & 0xFFFFFFFF
    a = [(h >> (2 * q)) & 3 for q in range(1, 9)]
    date = time.strftime('%Y-%m-%d %H:%M:%S +0000', time.gmtime(s))
    wants = 'Y' if (h >> 20) & 3 == 1 else 'N'
    return '%s,%d,%s,%s' % (date, sum(x > 1 for x in a), wants, ','.join(map(str, a)))

class Tally:
    def __init__(self, name):  # acked: the sessions acknowledged, as start seconds
        self.name, self.acked, self.n, self.notes = name, set(), dict.fromkeys(KEYS, 0), []
        self.began = time.time()

    def add(self, key, count, note):
        if count:
            self.n[key] += count
            self.notes.append('%s %d: %s' % (key, count, note))

    def done(self):
        counts = ' '.join('%s=%d' % kv for kv in self.n.items())
        print('\n  '.join(['%s: acknowledged=%d %s' % (self.name, len(self.acked), counts),
                           *self.notes[:8], '(%.0f s)' % (time.time() - self.began)]), flush=True)
        return any(self.n.values())

def check(home, acked, tally, where='', answered=()):
    """Counts lost, duplicated and torn in home's results.csv; returns whether it found any, or an
    answered session missing or doubled."""
    path = os.path.join(home, 'Documents', 'results.csv')
    data = open(path, 'rb').read() if os.path.exists(path) else b''
    before, torn, seen, last = dict(tally.n), [], {}, 0
    if data and not data.startswith(HEADER):
        torn.append('header %r' % data[:60])
    *lines, tail = data[len(HEADER):].split(b'\n') if data.startswith(HEADER) else [b'']
    if tail:
        torn.append('unfinished line %r' % tail)
    for line in lines:
        m = re.fullmatch(rb'(\d+),(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) \+0000,.*', line)
        s = m and calendar.timegm(time.strptime(m[2].decode(), '%Y-%m-%d %H:%M:%S'))
        if not m or line.decode('latin-1').split(',', 1)[1] != expected(s) or int(m[1]) <= last:
            torn.append('line %r after row %d' % (line, last))
        if m:
            last = max(last, int(m[1]))
            seen[s] = seen.get(s, 0) + 1
    lost, dups = sorted(acked - seen.keys()), [s for s, c in seen.items() if c > 1]
    tally.add('lost', len(lost), '%s sessions %s' % (where, lost[:5]))
    tally.add('duplicated', sum(seen.values()) - len(seen), '%s sessions %s' % (where, dups[:5]))
    tally.add('torn', len(torn), '%s %s' % (where, torn[:3]))
    return tally.n != before or any(seen.get(s) != 1 for s in answered)

def parse(out, err=''):
    """(acknowledged, answered, reported) from a driver's or the kiosk's output."""
    lines = out.splitlines()
    acked = {int(l.split()[1]) for l in lines if l.startswith('ack ') or
             (l.startswith('logged ') and l.endswith(' 1'))}
    answered = {int(l.split()[1]) for l in lines if l.startswith('answered ')}
    noted = [l for l in err.splitlines() if l.startswith(('quorin: ', 'torture_logger: ')) and
             not l.startswith('quorin: settings ')]  # the kiosk's start-up line
    reported = bool(noted) or any(l.startswith(('ALERT', 'nondurable')) or
                                  (l.startswith('logged ') and l.endswith(' 0')) for l in lines)
    return acked, answered, reported

def start(cmd, home, shim=None, **kw):
    # No voice: a speech service the kiosk started would outlive it and share the fault shim.
    env = dict(os.environ, QUORIN_HOME=home, QT_QPA_PLATFORM='offscreen',
               QUORIN_SPEECH_ENGINE='none')
    if shim:
        env.update({'QFAULT_' + k.upper(): str(v) for k, v in shim.items()},
                   LD_PRELOAD=SHIM, QFAULT_PREFIX=shim.get('prefix', home))
    return subprocess.Popen(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True, **kw)

def run(args, home, shim=None, tally=None):
    """Runs torture_logger to its end; returns (stdout, stderr). Other exits count as crashes."""
    p = start([LOGGER, *args], home, shim)
    try:
        out, err = p.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        p.kill()
        out, err = p.communicate()
        err += ' (hung: killed after 60 s)'
    if tally is not None and p.returncode:
        tally.add('crashed', 1, '%s exited %s: %s' % (args, p.returncode, err[-300:]))
    return out, err

def acks(args, home, tally, shim=None):
    """The sessions that a torture_logger run to its end acknowledged."""
    return parse(run(args, home, shim, tally)[0])[0]

def proc(pid, name):
    """The first field of /proc/PID/NAME after the command's name: the state (T: stopped) in
    stat, the call number in syscall; '' when the process is gone."""
    try:
        return (open('/proc/%d/%s' % (pid, name)).read().rsplit(')', 1)[-1].split() or [''])[0]
    except OSError:
        return ''

def settle(p, idle_syscalls=(), limit=60):
    """Waits until p has exited, is stopped, or (the kiosk) sits in its event loop's poll."""
    calm, deadline = 0, time.time() + limit
    while p.poll() is None and time.time() < deadline:
        if proc(p.pid, 'stat') == 'T':
            return 'stopped'
        calm = calm + 1 if idle_syscalls and proc(p.pid, 'syscall') in idle_syscalls else 0
        if calm >= 4:
            return 'idle'
        time.sleep(0.02)
    return 'exited' if p.poll() is not None else 'hang'

def sh(*cmd):
    return subprocess.run(cmd, capture_output=True, text=True)

def fresh(name, like=None):
    """An empty folder in the work folder, or a copy of the folder `like`."""
    path = os.path.join(WORK, name)
    shutil.rmtree(path, ignore_errors=True)
    shutil.copytree(like, path) if like else os.makedirs(path)
    return path

def take(report):
    """The lines of the shim's report, which is removed for the next run."""
    with contextlib.suppress(FileNotFoundError), open(report) as f:
        os.remove(report)
        return f.read().splitlines()
    return []

def counts(report):
    """{call: count} from the shim's report."""
    return {fn: int(n) for fn, n, *_ in map(str.split, take(report)) if fn != 'fired'}

class Disk:
    """ext4 in an image file, loop-mounted; cut() keeps only what reached the image."""

    def __init__(self, name):
        self.image, self.mnt = os.path.join(WORK, name + '.img'), fresh(name)
        sh('mkfs.ext4', '-q', '-F', self.image, '24M')
        self.mount()

    def mount(self):
        r = sh('mount', '-o', 'loop', self.image, self.mnt)
        if r.returncode:
            raise RuntimeError('cannot mount a loop device: ' + r.stderr.strip())

    def cut(self, p, tally):
        """p is stopped: the power fails now. Returns p's output; the disk comes back repaired."""
        shutil.copyfile(self.image, self.image + '.cut')
        p.kill()
        out, _ = p.communicate()
        sh('umount', self.mnt)
        os.replace(self.image + '.cut', self.image)
        r = sh('e2fsck', '-fy', self.image)
        if r.returncode >= 4:
            tally.add('torn', 1, 'e2fsck exited %d: %s' % (r.returncode, r.stdout[-300:]))
        self.mount()
        return out

def interruptions(size, cut=False):
    """kill -9, or a power cut on ext4 in a loop-mounted image, at random moments of continuous
    logging; then a recovery launch."""
    t, disk = Tally('powercut' if cut else 'kill'), cut and Disk('cut')
    home = os.path.join(disk.mnt if cut else fresh('kill'), 'home')
    # The time of a launch and some sessions: 50 on the work tmpfs, where they are fast, else 10.
    began = time.time()
    t.acked |= acks(['log', epoch(), '50' if MOUNT and not cut else '10'], home, t)
    span = time.time() - began
    for _ in range(size['cuts' if cut else 'kills']):
        p = start([LOGGER, 'log', epoch()], home)
        time.sleep(random.uniform(0, span))
        p.send_signal(signal.SIGSTOP if cut else signal.SIGKILL)
        if cut and settle(p) != 'stopped' or not cut and p.wait() != -9:
            t.add('crashed', 1, 'exited %s before the end' % p.returncode)
        t.acked |= parse(disk.cut(p, t) if cut else p.communicate()[0])[0]
    t.acked |= acks(['launch', epoch()], home, t)
    check(home, t.acked, t)
    return t

def kiosk(home, tally, shim=None, what='launch'):
    """Runs the kiosk until it is idle, exits or stops; returns (process, how)."""
    p = start([KIOSK], home, shim)
    how = settle(p, ('7', '271'))  # poll, ppoll: the main thread waits in its event loop
    if how == 'hang':
        tally.add('crashed', 1, 'kiosk %s: no idle event loop after 60 s' % what)
    if how in ('idle', 'hang'):
        p.terminate()
        # The kiosk stops gracefully on SIGTERM; a planned stop may fall on its way out.
        if settle(p) == 'stopped':
            how = 'stopped'
    err = '' if how == 'stopped' else p.communicate()[1]
    if how == 'exited' and p.returncode not in (0, -9):
        tally.add('crashed', 1, 'kiosk %s exited %s: %s' % (what, p.returncode, err[-300:]))
    return p, how

def kiosks(size):
    """The kiosk with a stored complete session, killed, then power-cut, during its launch: at a
    random call, and (power cuts and kills) right after the row's sync."""
    t, report = Tally('kiosk'), os.path.join(WORK, 'kiosk.count')
    if not os.access(KIOSK, os.X_OK):
        print('kiosk: skipped, %s is not built' % KIOSK)
        return None
    for cut in (False, True):
        if cut and not MOUNT:
            print('kiosk: power cuts skipped (they need root and loop devices)')
            break
        disk = cut and Disk('kcut')
        home = os.path.join(disk.mnt, 'home') if cut else fresh('kiosk')
        docs, acked, calls = os.path.join(home, 'Documents'), set(), {}
        run(['log', epoch(), '1'], home, tally=t)  # results.csv exists, as on a kiosk in use
        for prefix in (home, docs):  # every call, and the row's sync
            acked |= acks(['seed', epoch()], home, t)
            kiosk(home, t, dict(report=report, prefix=prefix))
            calls[prefix] = counts(report)
        sync = next((fn for fn in ('fdatasync', 'fsync') if calls[docs][fn]), 'fdatasync')
        plan = [dict(do='stop' if cut else 'kill', n=random.randint(1, sum(calls[home].values())))
                for _ in range(size['kcuts' if cut else 'kkills'])]
        plan += [dict(do=do, fn=sync, n=calls[docs][sync], prefix=docs) for do in ('stop', 'kill')
                 for _ in range(size['instants'] if cut else 0)]
        for shim in plan:
            acked |= acks(['seed', epoch()], home, t)
            p, how = kiosk(home, t, shim, shim['do'])
            if how == 'stopped':
                disk.cut(p, t)
            how = kiosk(home, t, what='recovery')[1]
            t.add('crashed', how != 'idle', 'the recovery launch did not reach its event loop')
        check(home, acked, t, 'power cuts:' if cut else 'kills:')
        t.acked |= acked
    return t

def sweep(size):
    """One fault (EIO, ENOSPC, short write; once or from then on) at every call of a first
    logging cycle, a later one, a launch with pending rows and a stored session, and the answer
    writes."""
    t, report = Tally('sweep'), os.path.join(WORK, 'sweep.count')
    # name: (setup runs, the run swept). "pending": the row's sync fails, so it waits in the store;
    # "killed": killed right after the row's sync, so the row is in the file and pending.
    syncs = {'pending': dict(do='eio', persist=1), 'killed': dict(do='kill')}
    targets = {'first': ([], 'log 1'),  # creates the store and results.csv
               'cycle': (['log 1'], 'log 1'),
               'launch': (['log 1', 'log 1 pending', 'seed'], 'launch'),
               'recovery': (['log 1', 'seed', 'launch killed'], 'launch'),
               'resume': (['log 1', 'seed'], 'log 1'),  # a stored session, then the next one
               'answers': (['log 1'], 'seed')}
    for name, (setup, faulted) in targets.items():
        base, acked, faulted = fresh('sweep-' + name), set(), faulted.split()
        for step in setup:
            mode, *rest = step.split()
            how = syncs.get(rest[-1]) if rest else None
            shim = how and dict(how, fn='fdatasync', n=1, prefix=base + '/Documents')
            acked |= acks([mode, epoch(), *filter(str.isdigit, rest)], base,
                          None if 'killed' in rest else t, shim)
        run([faulted[0], epoch(), *faulted[1:]], fresh('sweep-count', base), dict(report=report), t)
        calls = counts(report)
        cases = [(fn, n, do, persist) for fn, c in calls.items() for n in range(1, c + 1)
                 for do in (('eio', 'enospc', 'short') if 'write' in fn else
                            ('eio', 'zero') if 'read' in fn else ('eio', 'enospc'))
                 for persist in (0, 1)]
        for fn, n, do, persist in random.sample(cases, max(1, round(len(cases) * size['sweep']))):
            home = fresh('sweep-case', base)
            case = '%s %s #%d %s%s' % (name, fn, n, do, ' from then on' if persist else '')
            shim = dict(fn=fn, n=n, do=do, persist=persist, report=report)
            out, err = run([faulted[0], epoch(), *faulted[1:]], home, shim, t)
            fired = any(l.startswith('fired ') for l in take(report))
            out2, err2 = run(['launch', epoch()], home, tally=t)
            got, answered, reported = parse(out + out2, err + err2)
            wrong = check(home, acked | got, t, case + ':', answered)
            if fired and wrong and not reported:
                t.add('silent', 1, case)
            t.acked |= acked | got
        print('sweep %s: %d of %d cases over the calls %s' % (
            name, round(len(cases) * size['sweep']), len(cases),
            ' '.join('%s=%d' % kv for kv in calls.items() if kv[1])))
    return t

def conditions(size):
    """A full disk and read-only folders while sessions go on; then the condition is lifted."""
    t = Tally('conditions')
    for name in ('full disk', 'read-only documents', 'read-only home'):
        root = fresh(name.replace(' ', '-'))
        if name == 'full disk':
            sh('mount', '-t', 'tmpfs', '-o', 'size=2m', 'none', root)
        home = os.path.join(root, 'home')
        acked = acks(['log', epoch(), '1'], home, t)
        target = {'read-only documents': os.path.join(home, 'Documents'),
                  'read-only home': home}.get(name)
        if target:
            sh('mount', '--bind', '-o', 'ro', target, target)
        else:
            sh('dd', 'if=/dev/zero', 'of=' + os.path.join(root, 'filler'), 'bs=4096')
        p = start([LOGGER, 'step', epoch()], home, stdin=subprocess.PIPE)
        watchdog = threading.Timer(120, p.kill)
        watchdog.start()
        p.stdin.write('go\ngo\ngo\n')
        p.stdin.flush()
        lines = []  # until the fourth "ready": three sessions under the condition
        while lines.count('ready\n') < 4 and (line := p.stdout.readline()):
            lines.append(line)
        _, _, during = parse(''.join(lines))
        sh('umount', target) if target else os.remove(os.path.join(root, 'filler'))
        out, err = p.communicate('go\n')
        watchdog.cancel()
        if p.returncode:
            t.add('crashed', 1, '%s: exited %s: %s' % (name, p.returncode, err[-300:]))
        out = ''.join(lines) + out + run(['launch', epoch()], home, tally=t)[0]
        _, answered, reported = parse(out, err)
        wrong = check(home, acked | answered, t, name + ':', answered)
        if not (during or parse('', err)[2]):
            t.add('silent', 1, name + ': nothing reported while writing was impossible')
        elif wrong and not reported:
            t.add('silent', 1, name)
        t.acked |= acked | answered
    return t

def main():
    global WORK, LOGGER, SHIM, KIOSK, MOUNT
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('size', choices=SIZES)
    ap.add_argument('--build', default=os.path.join(os.path.dirname(__file__), '../../build/dev'))
    ap.add_argument('--only', default='kill,powercut,kiosk,sweep,conditions')
    ap.add_argument('--seed', type=int, default=random.randrange(1 << 30))
    a = ap.parse_args()
    if os.geteuid() == 0 and not os.environ.get('TORTURE_NAMESPACE') and shutil.which('unshare'):
        os.environ['TORTURE_NAMESPACE'] = '1'
        with contextlib.suppress(OSError):  # a private mount namespace: mounts go with the run
            os.execvp('unshare', ['unshare', '-m', '--propagation', 'private', sys.executable,
                                  os.path.abspath(__file__), *sys.argv[1:]])
    random.seed(a.seed)
    LOGGER, SHIM, KIOSK = (os.path.join(os.path.abspath(a.build), p) for p in (
        'tests/torture/torture_logger', 'tests/torture/quorin_fault_shim.so', 'app/quorin'))
    WORK = tempfile.mkdtemp(prefix='quorin-torture-')
    MOUNT = (os.environ.get('TORTURE_NAMESPACE') == '1' and
             not sh('mount', '-t', 'tmpfs', 'none', WORK).returncode)
    print('torture %s, seed %d, work in %s' % (a.size, a.seed, WORK))
    scenarios = {'kill': interruptions, 'powercut': lambda size: interruptions(size, True),
                 'kiosk': kiosks, 'sweep': sweep, 'conditions': conditions}
    failed, ran = False, 0
    try:
        for name in a.only.split(','):
            if name in ('powercut', 'conditions') and not MOUNT:
                print('%s: skipped, it needs root, mount and loop devices' % name)
                continue
            try:
                tally = scenarios[name](SIZES[a.size])
            except RuntimeError as e:  # a loop device that cannot be mounted
                print('%s: skipped, %s' % (name, e))
                continue
            if tally:
                failed |= tally.done()
                ran += 1
    finally:
        if MOUNT:
            sh('umount', '-R', '-l', WORK)
        shutil.rmtree(WORK, ignore_errors=True)
    return 1 if failed else 0 if ran else 77

if __name__ == '__main__':
    sys.exit(main())

"""The delta section of bench/run: two real releases of a library nobody here
wrote, fetched with `apt-get download` (the two newest versions the archive
offers, such as the stable and the security suite's), and their largest
common file, uncompressed as it lies in the .deb's payload:

  * the patch (marvostell-manifest patch) as a share of the packed package
    (marvostell-manifest pack);
  * the applier's time for the pair and per 128 MiB;
  * its peak memory above a process that applies nothing, on that pair and on
    a synthetic 64 MiB pair;
  * download plus apply at a simulated 10 Mbit/s, against the packed download.

Goals: at most 20% of the packed package; under 1 s per 128 MiB; under
16 MiB above the baseline; at most a quarter of the packed download's time.
"""
import functools, os, random, resource, shutil, subprocess, tempfile, time

CANDIDATES = ["libssl3", "libxml2", "libcurl4", "libexpat1", "libc6"]
LINK_BITS_PER_S = 10_000_000


def quiet(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kw)


def archive_versions(package):
    """The package's versions in the archive, oldest first."""
    found = quiet(["apt-cache", "madison", package])
    versions = {line.split("|")[1].strip() for line in found.stdout.splitlines() if line.count("|") >= 2}

    def compare(a, b):
        return 0 if a == b else (-1 if quiet(["dpkg", "--compare-versions", a, "lt", b]).returncode == 0 else 1)
    return sorted(versions, key=functools.cmp_to_key(compare))


def fetch_release(package, version, into):
    os.makedirs(into)
    if quiet(["apt-get", "download", f"{package}={version}"], cwd=into).returncode != 0:
        return None
    debs = [name for name in os.listdir(into) if name.endswith(".deb")]
    root = os.path.join(into, "root")
    if len(debs) != 1 or quiet(["dpkg-deb", "-x", os.path.join(into, debs[0]), root]).returncode != 0:
        return None
    return root


def largest_common_file(old_root, new_root):
    best = None
    for folder, _, names in os.walk(new_root):
        for name in names:
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, new_root)
            old = os.path.join(old_root, relative)
            if os.path.islink(path) or os.path.islink(old) or not os.path.isfile(old):
                continue
            if best is None or os.path.getsize(path) > os.path.getsize(best[1]):
                best = (old, path, relative)
    return best


def fetch_pair(work):
    """(package, old version, new version, old file, new file, relative path), or None."""
    for package in CANDIDATES:
        versions = archive_versions(package)
        if len(versions) < 2:
            continue
        old_version, new_version = versions[-2], versions[-1]
        old_root = fetch_release(package, old_version, os.path.join(work, package, "old"))
        new_root = old_root and fetch_release(package, new_version, os.path.join(work, package, "new"))
        common = new_root and largest_common_file(old_root, new_root)
        if common:
            return (package, old_version, new_version) + common
    return None


def peak_rss_kib(cmd):
    result = subprocess.run(["/usr/bin/time", "-f", "%M %x"] + cmd, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True)
    peak, code = result.stderr.strip().splitlines()[-1].split()
    if code != "0":
        raise SystemExit(f"{cmd} exited with {code}: {result.stderr}")
    return int(peak)


def best_time(cmd, output, runs):
    """The best wall-clock and the best CPU (user + system) time of `runs`."""
    wall = cpu = None
    for _ in range(runs):
        if output and os.path.exists(output):
            os.remove(output)
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        subprocess.run(cmd, check=True)
        elapsed = time.perf_counter() - start
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        used = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
        wall = elapsed if wall is None else min(wall, elapsed)
        cpu = used if cpu is None else min(cpu, used)
    return wall, cpu


def make(tool, work, old, new, pack=True):
    """The pair's patch, packed file (when `pack`) and the patch's making time."""
    patch = os.path.join(work, os.path.basename(new) + ".patch")
    start = time.perf_counter()
    made = quiet([tool, "patch", old, new, "-o", patch])
    making = time.perf_counter() - start
    if made.returncode != 0:
        raise SystemExit(f"marvostell-manifest patch failed: {made.stderr}")
    if not pack:
        return patch, None, making
    packed_copy = os.path.join(work, "new.bin")
    shutil.copyfile(new, packed_copy)
    if quiet([tool, "pack", packed_copy]).returncode != 0:
        raise SystemExit("marvostell-manifest pack failed")
    return patch, packed_copy + ".z", making


def synthetic_pair(work):
    """64 MiB of random bytes and a copy with an edit every MiB."""
    rng = random.Random(29)
    old = rng.randbytes(64 << 20)
    new = bytearray(old)
    for at in range(0, len(new) - 4096, 1 << 20):
        new[at:at + 64] = rng.randbytes(64)
        new[at + 2048:at + 2048] = b"inserted" * 16
    paths = (os.path.join(work, "big.old"), os.path.join(work, "big.new"))
    for path, data in zip(paths, (old, new)):
        with open(path, "wb") as f:
            f.write(data)
    return paths


def run(build, runs):
    tool = os.path.join(build, "tools", "manifest", "marvostell-manifest")
    bench = os.path.join(build, "bench", "delta_bench")
    work = tempfile.mkdtemp(prefix="marvostell-delta-bench-")
    try:
        pair = fetch_pair(work)
        if pair is None:
            print("Delta: no package with two versions could be fetched with apt-get download "
                  f"(tried {', '.join(CANDIDATES)}); skipped")
            return []
        package, old_version, new_version, old, new, relative = pair
        old_size, new_size = os.path.getsize(old), os.path.getsize(new)
        patch, packed, making = make(tool, work, old, new)
        patch_size, packed_size = os.path.getsize(patch), os.path.getsize(packed)
        out = os.path.join(work, "out")
        # Times less a process that starts and applies nothing; each run is
        # short, so more of them.
        runs = max(runs, 20)
        start, start_cpu = best_time([bench, "none"], None, runs)
        apply_cmd = [bench, "patch", old, patch, out, str(new_size)]
        apply, apply_cpu = (t - s for t, s in zip(best_time(apply_cmd, out, runs), (start, start_cpu)))
        inflate_cmd = [bench, "inflate", packed, out, str(new_size)]
        inflate = best_time(inflate_cmd, out, runs)[0] - start
        with open(out, "rb") as made, open(new, "rb") as want:
            if made.read() != want.read():
                raise SystemExit("delta_bench: the inflated file is not the new one")
        os.remove(out)
        baseline = peak_rss_kib([bench, "none"])
        apply_rss = peak_rss_kib(apply_cmd)
        os.remove(out)
        big_old, big_new = synthetic_pair(work)
        big_patch, _, _ = make(tool, work, big_old, big_new, pack=False)
        big_cmd = [bench, "patch", big_old, big_patch, out, str(os.path.getsize(big_new))]
        big_apply = best_time(big_cmd, out, 1)[0] - start
        os.remove(out)
        big_rss = peak_rss_kib(big_cmd)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    share = patch_size / packed_size
    per_128 = apply * (128 << 20) / new_size
    packed_download = packed_size * 8 / LINK_BITS_PER_S
    patched_total = patch_size * 8 / LINK_BITS_PER_S + apply
    above = max(apply_rss, big_rss) - baseline
    print(f"Delta between two releases of {package} ({old_version} -> {new_version}), {relative}:")
    print(f"  file             {old_size:>11,} -> {new_size:,} bytes (uncompressed)")
    print(f"  packed (zlib -9) {packed_size:>11,} bytes")
    print(f"  patch            {patch_size:>11,} bytes, {100 * share:.1f}% of the packed package"
          f" (made in {making:.2f} s)")
    print(f"  apply (best of {runs}) {apply:.3f} s ({apply_cpu:.3f} s CPU), {per_128:.3f} s per 128 MiB;"
          f" inflate {inflate:.3f} s; the 64 MiB pair {big_apply:.3f} s")
    print(f"  peak memory      baseline {baseline / 1024:.2f} MiB; applying this pair {apply_rss / 1024:.2f} MiB, "
          f"a 64 MiB pair {big_rss / 1024:.2f} MiB")
    load, cores = os.getloadavg()[0], os.cpu_count() or 1
    if load > cores:
        print(f"  (load average {load:.1f} on {cores} cores: wall-clock times are inflated; CPU time is not)")
    print(f"  at 10 Mbit/s     patch + apply {patched_total:.3f} s; packed download {packed_download:.3f} s"
          f" (+ inflate {packed_download + inflate:.3f} s)")
    return [
        (f"patch at most 20% of the packed package ({100 * share:.1f}%)", share <= 0.20),
        (f"apply under 1 s per 128 MiB ({per_128:.3f} s)", per_128 < 1.0),
        (f"applier under 16 MiB above the baseline ({above / 1024:.2f} MiB)", above < 16 * 1024),
        (f"patch + apply at most a quarter of the packed download (ratio {patched_total / packed_download:.3f})",
         patched_total <= packed_download / 4),
    ]

#!/usr/bin/python3
"""Convert an archive of ALOS PRISM and AVNIR-2 products on a Dask cluster.

    alosj_dask.py SOURCE... --out DIR [--scheduler tcp://HOST:PORT]
                  [--workers N] [--alosj PATH] [--warp] [--overwrite]

The unit of work is the one `alosj batch` runs on one machine: `alosj convert
PRODUCT --out DIR`, which writes DIR/<id>/ (COG, quicklook, sensor model,
STAC Item last) and prints one JSON line.  This script finds the products
under the sources (directories at any depth, .zip, .tar, .tar.gz) with
`alosj batch --list`, submits one task per product to a dask.distributed
cluster, prints each task's JSON line as it finishes, and writes the STAC
Collection over DIR with `alosj catalog` at the end.  Exit status 1 when a
product failed.

The STAC Items are the record of what is done: a product whose Item and
files are in DIR is skipped by the task that finds it, so a run that stopped
is resumed by running it again (--overwrite converts everything again).

Without --scheduler the tasks run on a LocalCluster of --workers processes
(default: one per core) on this machine, listening on loopback only.  With
--scheduler they run on that cluster's workers, which need alosj at the same
path (or --alosj) and the sources and DIR at the same paths, e.g. on a shared
file system.  Needs Debian's python3-distributed.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys


def convert(alosj, product, out, warp, overwrite):
    """Runs alosj convert on one product; its JSON line, or a failure line."""
    args = [alosj, "-q", "convert", product, "--out", out]
    if warp:
        args.append("--warp")
    if overwrite:
        args.append("--overwrite")
    result = subprocess.run(args, capture_output=True, text=True)
    for text in result.stdout.splitlines():
        try:
            line = json.loads(text)
        except ValueError:
            continue
        if isinstance(line, dict) and "status" in line:
            return line
    return {"source": product, "id": None, "status": "failed", "outputs": [], "seconds": 0,
            "peak_memory_mb": 0,
            "error": "alosj convert ended with status %d without a report: %s"
                     % (result.returncode, result.stderr.strip()[-500:])}


def find_products(alosj, sources):
    # NUL-separated, and names kept as bytes whatever they hold.
    result = subprocess.run([alosj, "-q", "batch", *sources, "--list", "-0"], capture_output=True, text=True,
                            errors="surrogateescape")
    if result.returncode not in (0, 1):
        sys.exit("alosj batch --list: " + result.stderr.strip())
    sys.stderr.write(result.stderr)
    return result.stdout.split("\0")[:-1], result.returncode != 0


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("sources", nargs="+", help="directories, archives or volume directory files")
    parser.add_argument("--out", required=True, help="the directory of the converted products")
    parser.add_argument("--scheduler", help="address of a running scheduler, e.g. tcp://10.0.0.5:8786")
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1,
                        help="workers of the LocalCluster (default: one per core)")
    parser.add_argument("--alosj", default=shutil.which("alosj") or "alosj", help="the alosj executable")
    parser.add_argument("--warp", action="store_true", help="map-project the COGs")
    parser.add_argument("--overwrite", action="store_true", help="convert products again that are done")
    args = parser.parse_args(argv)

    from dask.distributed import Client, LocalCluster, as_completed

    alosj = os.path.abspath(args.alosj) if os.path.sep in args.alosj else args.alosj
    out = os.path.abspath(args.out)
    sources = [os.path.abspath(s) for s in args.sources]
    products, unreadable_sources = find_products(alosj, sources)
    os.makedirs(out, exist_ok=True)

    if args.scheduler:
        cluster = None
        client = Client(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               host="127.0.0.1", dashboard_address=None)
        client = Client(cluster)
    failed = unreadable_sources
    try:
        futures = [client.submit(convert, alosj, p, out, args.warp, args.overwrite, key="convert-%d" % i,
                                 pure=False)
                   for i, p in enumerate(products)]
        for future in as_completed(futures):
            line = future.result()
            failed = failed or line["status"] == "failed"
            print(json.dumps(line), flush=True)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()

    result = subprocess.run([alosj, "catalog", out], capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit("alosj catalog: " + result.stderr.strip())
    sys.stderr.write(result.stdout)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

"""Start-up hook for Dask workers that compute velaro polar databases.

Dask imports this module in every worker process it starts (or restarts)
when asked to with ``--preload velaro._database_worker`` (the local cluster
of :mod:`velaro.database` always asks), and calls :func:`dask_setup` on the
worker's main thread before the worker takes tasks.

It keeps each worker on one CPU (see :func:`_pin_to_one_cpu`) and loads
what the tasks need.  ``--ignore-interrupt`` (used by the local cluster)
also makes the worker ignore Ctrl-C: in a terminal, Ctrl-C reaches every
process of the foreground group, and the process that started the cluster
is the one that handles it, by cancelling the tasks and closing the cluster.
"""

from __future__ import annotations

import hashlib
import os
import re
import signal
from typing import Any

import click


@click.command()
@click.option("--ignore-interrupt", is_flag=True, default=False, help="ignore SIGINT in the worker")
@click.option("--pin/--no-pin", default=True, help="keep the worker on one CPU")
def dask_setup(worker: Any, ignore_interrupt: bool, pin: bool) -> None:
    if ignore_interrupt:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
    if pin:
        _pin_to_one_cpu(worker.name)
    # What every task needs, loaded while the cluster starts rather than by
    # the first task of each worker.
    import pandas  # noqa: F401

    import velaro.database  # noqa: F401


def _pin_to_one_cpu(name: Any) -> None:
    """Keep this worker, and the engine's thread pool inside it, on one CPU.

    The engine runs the angles of a batch on a process-wide thread pool
    sized by the CPUs the process may use.  With one worker per CPU, each
    worker keeps to its own CPU: its pool then has a single thread and the
    workers do not compete for the same cores.  The CPU is chosen by the
    number that ends the worker's name (0, 1, ... in a local cluster;
    ``host-0``, ``host-1``, ... from ``dask worker --name host --nworkers N``).
    Threads made later (the one that runs the tasks, the pool's) inherit the
    affinity of this thread.
    """
    try:
        cpus = sorted(os.sched_getaffinity(0))
        text = str(name)
        m = re.search(r"(\d+)$", text)
        index = int(m.group(1)) if m else int(hashlib.sha256(text.encode()).hexdigest(), 16)
        os.sched_setaffinity(0, {cpus[index % len(cpus)]})
    except (AttributeError, OSError, ValueError):  # no affinity control here: run unpinned
        pass

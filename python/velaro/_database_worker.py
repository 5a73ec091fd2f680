"""Start-up hook of the worker processes of the local cluster of velaro.database.

Dask imports this module in every worker process it starts (or restarts)
and calls :func:`dask_setup` there, on the main thread, before the worker
takes tasks.
"""

from __future__ import annotations

import hashlib
import os
import signal
from typing import Any


def dask_setup(worker: Any) -> None:
    # Ctrl-C in a terminal reaches every process of the foreground group.
    # The process that started the cluster handles it (cancels the tasks,
    # closes the cluster); the workers leave it to that process.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    _pin_to_one_cpu(worker.name)
    # What every task needs, loaded while the cluster starts rather than
    # by the first task of each worker.
    import pandas  # noqa: F401

    import velaro.database  # noqa: F401


def _pin_to_one_cpu(name: Any) -> None:
    """Keep this worker, and the engine's thread pool inside it, on one CPU.

    The engine runs the angles of a batch on a process-wide thread pool
    sized by the CPUs the process may use.  The local cluster already runs
    one worker per CPU, so each worker keeps to its own CPU: its pool then
    has a single thread and the workers do not compete for the same cores.
    Threads made later (the one that runs the tasks, the pool's) inherit
    the affinity of this thread.
    """
    try:
        cpus = sorted(os.sched_getaffinity(0))
        text = str(name)
        index = int(text) if text.isdigit() else int(hashlib.sha256(text.encode()).hexdigest(), 16)
        os.sched_setaffinity(0, {cpus[index % len(cpus)]})
    except (AttributeError, OSError, ValueError):  # no affinity control here: run unpinned
        pass

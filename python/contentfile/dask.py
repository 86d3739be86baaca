"""Reports and extraction over many captures on a Dask cluster.

The workers read the captures by path, so the scheduler, the workers and
the client must see the capture storage under the same paths (a shared or
network file system). Paths and globs are expanded on the client::

    from dask.distributed import Client
    import contentfile.dask

    client = Client("tcp://scheduler:8786")
    bag = contentfile.dask.reports(["/captures/2024-03-14/**/*.cf"])
    smtp = bag.filter(lambda r: r["kind"] == "smtp").count().compute()
    contentfile.dask.extract(["/captures/2024-03-14"], "/cases/1234/out")

Each task reads a partition of captures in one call of the compiled module
(without the GIL), so that a task's work outweighs its scheduling.
"""

from __future__ import annotations

import glob
import math
import os
from typing import Any, Dict, Iterable, List, Optional, Sequence, Tuple, Union

import dask.bag as db

from . import _errors, _native
from ._capture import PathLike

__all__ = ["reports", "extract", "expand_paths"]

# Captures per partition: at least this many, so that a task's work (tens
# of microseconds a small capture) outweighs its scheduling (about a
# millisecond a task) many times over ...
MIN_PARTITION = 1000
# ... and at most this many, so that a large run still spreads over many
# workers and a lost worker loses little work.
MAX_PARTITION = 5000
# Partitions a run aims for when the sizes above leave a choice.
TARGET_PARTITIONS = 64

PathsOrGlobs = Union[PathLike, Iterable[PathLike]]


def _is_glob(path: bytes) -> bool:
    return glob.has_magic(path)


def expand_paths(paths_or_globs: PathsOrGlobs, *,
                 skip: PathLike = b"") -> List[Tuple[bytes, bytes]]:
    """The captures that ``paths_or_globs`` names, as ``cfdump`` lists its
    inputs: files as given, folders walked recursively in name order
    (names that start with "." skipped), globs (``**`` included) expanded
    in name order. Gives (path, error) pairs; ``error`` is empty unless
    the entry cannot be listed."""
    if isinstance(paths_or_globs, (str, bytes, os.PathLike)):
        paths_or_globs = [paths_or_globs]
    expanded: List[bytes] = []
    for item in paths_or_globs:
        path = os.fsencode(item)
        if b"\0" in path:
            raise ValueError("embedded null byte in the path")
        if _is_glob(path):
            expanded += sorted(glob.glob(path, recursive=True))
        else:
            expanded.append(path)
    return _native.list_inputs(expanded, os.fsencode(skip))


def _partition_size_for(count: int) -> int:
    """Captures per partition for a run of ``count`` captures."""
    return max(MIN_PARTITION,
               min(MAX_PARTITION, math.ceil(count / TARGET_PARTITIONS)))


# Makes the reports on a worker; it keeps the reports' keys for reuse.
_REPORTER = _native.Reporter()

# A partition travels as one small tuple of NUL-separated byte strings (no
# path holds a NUL): Dask walks lists and tuples of a graph element by
# element, and a list of many paths in the graph costs more to schedule than
# reading the captures does.
Chunk = Tuple[bytes, ...]


def _pack(columns: Sequence[Sequence[bytes]], size: int) -> List[Chunk]:
    count = len(columns[0]) if columns else 0
    return [tuple(b"\0".join(column[i:i + size]) for column in columns)
            for i in range(0, count, size)]


def _unpack(chunk: Chunk) -> List[List[bytes]]:
    return [column.split(b"\0") for column in chunk]


def _chunk_bag(columns: Sequence[Sequence[bytes]], size: int) -> db.Bag:
    chunks = _pack(columns, size)
    return db.from_sequence(chunks, npartitions=max(1, len(chunks)))


def _report_partition(chunks: Sequence[Chunk], utf8: bool,
                      hashes: str) -> List[Dict[str, Any]]:
    out: List[Dict[str, Any]] = []
    for chunk in chunks:
        paths, errors = _unpack(chunk)
        reports = iter(_REPORTER.reports(
            [path for path, error in zip(paths, errors) if not error], utf8,
            hashes))
        out += [next(reports) if not error else
                _REPORTER.failed_report(path, error)
                for path, error in zip(paths, errors)]
    return out


def _extract_partition(chunks: Sequence[Chunk], out_dir: bytes, force: bool,
                       folder_ids: bytes, utf8: bool,
                       hashes: str) -> List[Dict[str, Any]]:
    out: List[Dict[str, Any]] = []
    for chunk in chunks:
        paths, errors, folders = _unpack(chunk)
        readable = [(path, folder) for path, error, folder
                    in zip(paths, errors, folders) if not error]
        reports = iter(_REPORTER.extract_reports(
            [path for path, _ in readable], [folder for _, folder in readable],
            out_dir, force, folder_ids, utf8, hashes))
        out += [next(reports) if not error else
                _REPORTER.failed_report(path, error)
                for path, error in zip(paths, errors)]
    return out


def reports(paths_or_globs: PathsOrGlobs, *, utf8: bool = False,
            hashes: str = "sha256",
            partition_size: Optional[int] = None) -> db.Bag:
    """A Dask bag of the report of every capture that ``paths_or_globs``
    names, in input order: the dicts of ``cfdump --json`` (the same keys
    and values as :func:`contentfile.report`, which explains ``utf8`` and
    ``hashes``). ``partition_size`` overrides the captures per partition."""
    entries = expand_paths(paths_or_globs)
    size = partition_size or _partition_size_for(len(entries))
    columns = [[path for path, _ in entries], [error for _, error in entries]]
    return _chunk_bag(columns, size).map_partitions(_report_partition, utf8,
                                                    hashes)


def extract(paths_or_globs: PathsOrGlobs, out_dir: PathLike, *,
            force: bool = False, utf8: bool = False, hashes: str = "sha256",
            compute: bool = True, partition_size: Optional[int] = None
            ) -> Union[List[Dict[str, Any]], db.Bag]:
    """Extracts every capture that ``paths_or_globs`` names into a folder
    of its own under ``out_dir``, on the workers, as ``cfdump extract -d
    out_dir`` does: the same folder and file names, the same rules (nothing
    written outside ``out_dir``, every file created through the folder held
    open, no existing file replaced unless ``force``, a folder that holds an
    input never reused). The folders are planned on the client, so two
    captures never share one.

    Gives the reports (with their ``extract`` member) in input order, or
    with ``compute=False`` the bag that makes them.
    Raises :class:`contentfile.ExtractError` when ``out_dir`` cannot be
    used.
    """
    out_dir = os.fsencode(out_dir)
    if b"\0" in out_dir:
        raise ValueError("embedded null byte in the path")
    while len(out_dir) > 1 and out_dir.endswith(b"/"):
        out_dir = out_dir[:-1]
    entries = expand_paths(paths_or_globs, skip=out_dir)
    problem, folders, folder_ids = _native.plan_extraction(
        [path for path, _ in entries], out_dir, force)
    if problem:
        error = _errors.ExtractError(os.fsdecode(problem))
        error.operation = "extract"
        raise error
    size = partition_size or _partition_size_for(len(entries))
    columns = [[path for path, _ in entries], [error for _, error in entries],
               folders]
    bag = _chunk_bag(columns, size).map_partitions(
        _extract_partition, out_dir, force, folder_ids, utf8, hashes)
    return bag.compute() if compute else bag

#!/usr/bin/python3
"""Draws the figure of an acquisition of fcs-host from the CSV files in its
output folder: the normalized correlation with both fits on a logarithmic lag
axis, the histogram of inter-photon times, and the time trace.

usage: fcs-plot.py FOLDER   (writes FOLDER/figure.png)
Exit status 3 when matplotlib cannot be imported."""

import csv
import os
import sys

try:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import numpy as np
except ImportError as error:
    print(f"fcs-plot.py: {error}", file=sys.stderr)
    sys.exit(3)


def read(folder, name, keys=None):
    """The columns (all, or those named) of a CSV file with a header line, as
    float arrays; empty fields are NaN."""
    path = os.path.join(folder, name)
    with open(path, newline="") as f:
        header = next(csv.reader(f))
    keys = keys or header
    columns = [header.index(key) for key in keys]
    try:  # the fast parser, for files without empty fields
        data = np.loadtxt(path, delimiter=",", skiprows=1, ndmin=2, usecols=columns)
    except ValueError:
        data = np.genfromtxt(path, delimiter=",", skip_header=1, ndmin=2, usecols=columns)
    if data.size == 0:
        data = np.empty((0, len(keys)))
    return {key: data[:, i] for i, key in enumerate(keys)}


def summary_value(folder, section, key):
    """The value of the line "  key: value" under the heading that starts with
    `section` in summary.txt, or None."""
    inside = False
    try:
        with open(os.path.join(folder, "summary.txt")) as f:
            for line in f:
                if not line.startswith(" "):
                    inside = line.startswith(section)
                    continue
                name, _, value = line.strip().partition(": ")
                if inside and name == key:
                    return value
    except OSError:
        pass
    return None


def main(folder):
    corr = read(folder, "correlation.csv", ["lag_ns", "normalized", "library_fit_normalized"])
    avg = read(folder, "correlation_averaged.csv")
    hist = read(folder, "histogram.csv")
    trace = read(folder, "trace.csv")

    fig = plt.figure(figsize=(11, 9))
    grid = fig.add_gridspec(2, 2, height_ratios=[1.6, 1], left=0.07, right=0.98, bottom=0.07, top=0.93,
                            hspace=0.28, wspace=0.22)
    ax = fig.add_subplot(grid[0, :])
    ax_hist = fig.add_subplot(grid[1, 0])
    ax_trace = fig.add_subplot(grid[1, 1])

    # Correlation: single lags (lag 0 counts photons and is left out), the
    # averaged points with their standard errors, and both fits. Of the
    # single lags, a few thousand spread evenly over the logarithmic axis are
    # drawn; more would not show.
    lags = corr["lag_ns"].size
    shown = np.unique(np.geomspace(1, max(lags - 1, 1), 20000).astype(int)) if lags > 1 else np.array([], int)
    lag_ms = corr["lag_ns"][shown] / 1e6
    ax.plot(lag_ms, corr["normalized"][shown], ".", ms=1, color="0.75", label="G at single lags")
    ax.plot(lag_ms, corr["library_fit_normalized"][shown], "--", color="tab:green", lw=1.2,
            label="libraries' fit (fitRealDromilt)")
    used = avg["in_fit"] > 0
    ax.errorbar(avg["lag_ns"][~used] / 1e6, avg["g"][~used], yerr=avg["g_se"][~used], fmt="o", ms=3,
                color="0.55", mfc="none", label="averaged, outside the fit")
    ax.errorbar(avg["lag_ns"][used] / 1e6, avg["g"][used], yerr=avg["g_se"][used], fmt="o", ms=3,
                color="tab:blue", label="averaged, +- standard error")
    if np.isfinite(avg["fit"]).any():
        ax.plot(avg["lag_ns"][used] / 1e6, avg["fit"][used], "-", color="tab:red", lw=1.8,
                label="physical fit (3D diffusion)")
    ax.set_xscale("log")
    # The vertical range follows the fitted lags; detector effects at the
    # shortest lags (dead time, afterpulsing) may lie outside it.
    chosen = used if used.any() else np.ones_like(used)
    finite = avg["g"][chosen & np.isfinite(avg["g"])]
    if finite.size:
        low, high = float(np.min(finite)), float(np.max(finite))
        pad = 0.1 * (high - low if high > low else 1.0)
        ax.set_ylim(low - 2 * pad, high + 4 * pad)
    ax.set_xlim(lag_ms[0] if lag_ms.size else 1e-6, lag_ms[-1] if lag_ms.size else 1)
    ax.set_xlabel("lag (ms)")
    ax.set_ylabel("normalized correlation G")
    ax.axhline(0.0, color="0.3", lw=0.6)
    title = "normalized correlation"
    td = summary_value(folder, "physical fit", "diffusion time")
    n = summary_value(folder, "physical fit", "molecules")
    if td and n:
        title += f": tD = {td.split(' (')[0]}, N = {n.split(' (')[0]} (physical fit)"
    ax.set_title(title)
    ax.legend(loc="upper right", fontsize=8)

    # Histogram of inter-photon times, one step per slot.
    starts_us = hist["ipt_ns"] / 1e3
    width_us = starts_us[1] - starts_us[0] if starts_us.size > 1 else 1.0
    ax_hist.stairs(hist["count"], np.append(starts_us, starts_us[-1] + width_us) if starts_us.size else [0.0],
                   fill=True, color="tab:purple")
    if (hist["count"] > 0).any():
        ax_hist.set_yscale("log")
    ax_hist.set_xlabel("inter-photon time (us)")
    ax_hist.set_ylabel("count per bin")
    ax_hist.set_title("inter-photon time histogram")

    # Time trace as a count rate.
    if trace["time_s"].size > 1:
        bin_s = trace["time_s"][1] - trace["time_s"][0]
        ax_trace.plot(trace["time_s"], trace["photons"] / bin_s / 1e3, lw=0.5, color="tab:orange")
        ax_trace.set_title(f"time trace ({bin_s * 1e3:.4g} ms bins)")
    else:
        ax_trace.set_title("time trace")
    ax_trace.set_xlabel("time (s)")
    ax_trace.set_ylabel("count rate (kHz)")

    fig.suptitle(os.path.abspath(folder), fontsize=9)
    fig.savefig(os.path.join(folder, "figure.png"), dpi=110)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    main(sys.argv[1])

"""Light curve of a microlensing event in which the lens crosses the source star.

A source of radius rho = 0.05 Einstein radii passes a point lens at impact
parameter u0 = 0.02 Einstein radii, less than rho, so for a short while the lens
is in front of the stellar disk. The event is computed four ways:

- a point source, A(u) = (u^2 + 2) / (u sqrt(u^2 + 4)), which peaks at 50;
- a uniformly bright disk (`witt_mao_magnification`);
- a limb-darkened disk (linear law, coefficient 0.6), computed by both
  families: nested uniform disks (`integrated_witt_mao_magnification`) and
  thin rings (`integrated_heyrovsky_magnification`).

Time is in units of the Einstein time tE, measured from the peak. The functions
take separations in source radii, l = u / rho; l = 1 puts the lens on the limb.

Writes a PNG and prints a few numbers. Run:  python examples/light_curve.py [-o out.png]
The PNG goes by default to build/examples/light_curve.png in this repository,
outside the tracked files; examples/light_curve.png, the README's picture, is
written only when asked for (-o examples/light_curve.png).
"""

import argparse
import math
import time
from pathlib import Path

import matplotlib

matplotlib.use("Agg")  # no screen needed
import matplotlib.pyplot as plt  # noqa: E402
import matplotlib.ticker  # noqa: E402
import numpy as np  # noqa: E402

import zorvane  # noqa: E402

RE = 1.0                 # Einstein radius (any unit)
RSTAR = 0.05             # source radius, same unit
RHO = RSTAR / RE         # source radius in Einstein radii
U0 = 0.02                # impact parameter in Einstein radii (< RHO: the lens crosses the disk)


def point_source(u):
    """Magnification of a point source at separation u (Einstein radii)."""
    u = np.asarray(u, dtype=float)
    return (u * u + 2.0) / (u * np.sqrt(u * u + 4.0))


def compute(tau):
    """All four light curves at the times tau (in tE, from the peak)."""
    u = np.hypot(U0, tau)            # lens-source separation in Einstein radii
    l = u / RHO                      # ... and in source radii, as the functions expect
    return {
        "point": point_source(u),
        "uniform": np.array(zorvane.witt_mao_magnification(l, RE, RSTAR)),
        "ld_disks": np.array(zorvane.integrated_witt_mao_magnification(l, RE, RSTAR)),
        "ld_rings": np.array(zorvane.integrated_heyrovsky_magnification(l, RE, RSTAR)),
    }


def plot(tau, curves, path):
    t_limb = math.sqrt(RHO**2 - U0**2)   # lens on the limb: u = rho
    style = {
        "point": dict(color="0.55", lw=1.2, ls="--", label="point source"),
        "uniform": dict(color="tab:blue", lw=1.6, label="uniform disk (witt_mao)"),
        "ld_disks": dict(color="tab:red", lw=2.4, alpha=0.7,
                         label="limb-darkened, nested disks (integrated_witt_mao)"),
        "ld_rings": dict(color="black", lw=1.0, ls=(0, (4, 3)),
                         label="limb-darkened, rings (integrated_heyrovsky)"),
    }

    fig, (ax_full, ax_peak) = plt.subplots(
        1, 2, figsize=(11, 5.2), gridspec_kw=dict(width_ratios=[1, 1.15]))
    fig.suptitle(
        f"Point lens crossing the source: $\\rho$ = {RHO}, $u_0$ = {U0} (Einstein radii)",
        fontsize=12)

    for key, kw in style.items():
        ax_full.plot(tau, curves[key], **kw)
    ax_full.set_yscale("log")
    ax_full.yaxis.set_major_formatter(matplotlib.ticker.FormatStrFormatter("%g"))
    ax_full.yaxis.set_minor_formatter(matplotlib.ticker.NullFormatter())
    ax_full.set_yticks([2, 3, 5, 10, 20, 30, 50])
    ax_full.set_xlim(tau[0], tau[-1])
    ax_full.set_xlabel("time from peak, $(t - t_0)/t_E$")
    ax_full.set_ylabel("magnification A")
    ax_full.set_title("whole event (log scale)", fontsize=10)
    ax_full.axvspan(-t_limb, t_limb, color="gold", alpha=0.25, lw=0,
                    label="lens inside the source disk")
    ax_full.grid(True, which="both", alpha=0.25)

    peak = np.abs(tau) <= 2.2 * t_limb
    for key, kw in style.items():
        ax_peak.plot(tau[peak], curves[key][peak], **kw)
    ax_peak.axvspan(-t_limb, t_limb, color="gold", alpha=0.25, lw=0)
    for x in (-t_limb, t_limb):
        ax_peak.axvline(x, color="goldenrod", lw=0.8)
    ax_peak.set_xlim(-2.2 * t_limb, 2.2 * t_limb)
    ax_peak.set_ylim(0, 1.08 * curves["point"][peak].max())
    ax_peak.set_xlabel("time from peak, $(t - t_0)/t_E$")
    ax_peak.set_ylabel("magnification A")
    ax_peak.set_title("zoom on the peak: the finite source caps and shapes it", fontsize=10)
    ax_peak.grid(True, alpha=0.25)
    handles, labels = ax_full.get_legend_handles_labels()
    fig.legend(handles, labels, loc="lower center", ncol=3, fontsize=8.5, frameon=False)

    fig.tight_layout(rect=(0, 0.1, 1, 1))
    fig.savefig(path, dpi=90)
    plt.close(fig)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-o", "--output", type=Path,
                        default=Path(__file__).resolve().parents[1] / "build" / "examples" / "light_curve.png",
                        help="where to write the PNG (default: %(default)s)")
    args = parser.parse_args()
    args.output.parent.mkdir(parents=True, exist_ok=True)

    tau = np.linspace(-0.6, 0.6, 2401)   # 2401 epochs, step 5e-4 tE
    start = time.perf_counter()
    curves = compute(tau)
    seconds = time.perf_counter() - start

    print(f"rho = {RHO}, u0 = {U0}: the lens is inside the source for "
          f"|t - t0| < {math.sqrt(RHO**2 - U0**2):.4f} tE")
    print(f"{len(tau)} epochs, 3 finite-source curves in {seconds:.2f} s")
    print()
    print(f"{'(t-t0)/tE':>10} {'l':>7} {'point':>9} {'uniform':>9} "
          f"{'LD disks':>10} {'LD rings':>10}")
    for t in (0.0, 0.02, 0.04, 0.046, 0.05, 0.1, 0.3, 0.6):
        i = int(np.argmin(np.abs(tau - t)))
        l = math.hypot(U0, tau[i]) / RHO
        print(f"{tau[i]:10.4f} {l:7.3f} {curves['point'][i]:9.3f} {curves['uniform'][i]:9.3f} "
              f"{curves['ld_disks'][i]:10.4f} {curves['ld_rings'][i]:10.4f}")
    rel = np.abs(curves["ld_disks"] / curves["ld_rings"] - 1.0)
    print()
    print(f"the two limb-darkened families agree to {rel.max():.1e} (relative, largest over the curve)")

    plot(tau, curves, args.output)
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()

"""Light curve of a finite source crossing a point lens.

A source of radius rho = 0.01 Einstein radii passes the lens at impact parameter
u0 = 0.005, so the lens crosses the source disk: the peak is flattened by the
finite source and shaped by its limb darkening.
"""

import math

import zorvane

re, rstar = 1.0, 0.01          # Einstein radius and source radius, same unit
rho = rstar / re               # source radius in Einstein radii
u0, t0, t_e = 0.005, 0.0, 20.0 # impact parameter (Einstein radii), peak time and crossing time (days)

times = [t0 + 0.02 * k for k in range(-10, 11)]
u = [math.hypot(u0, (t - t0) / t_e) for t in times]
l = [x / rho for x in u]       # separations in source radii

uniform = zorvane.witt_mao_magnification(l, re, rstar)
darkened = zorvane.integrated_heyrovsky_magnification(l, re, rstar)


def point_source(x):
    return (x * x + 2) / (x * math.sqrt(x * x + 4))


print(f"{'t [d]':>7} {'u':>9} {'l':>7} {'point':>9} {'uniform':>9} {'limb-dark':>9}")
for t, x, s, a, b in zip(times, u, l, uniform, darkened):
    print(f"{t:7.2f} {x:9.5f} {s:7.3f} {point_source(x):9.3f} {a:9.3f} {b:9.3f}")

"""Finite-source magnification of a point-mass gravitational lens (microlensing).

Lengths: a lens-source separation ``l`` and a ring radius ``r`` are measured in
source radii (``l = 1`` puts the lens on the limb of the source). The Einstein
radius ``re`` and the source radius ``rstar`` may be given in any one length
unit, since only their ratio enters: rho = rstar/re (the source radius in
Einstein radii) for the uniform-disk family, c = re/rstar (the Einstein radius
in source radii) for the ring family. Results are magnifications: lensed over
unlensed flux, dimensionless, 1 far from the lens.

Sequence arguments accept lists, tuples, ranges, NumPy arrays, array.array,
bytes and any other object that supports indexing by integers and yields
numbers; a str is refused. Number arguments accept float, int, bool and
anything with ``__float__`` or ``__index__`` (NumPy scalars included).
"""

from typing import Protocol, SupportsFloat, SupportsIndex, type_check_only

__all__ = [
    "witt_mao_magnification",
    "integrated_witt_mao_magnification",
    "integrated_flux_map_witt_mao_magnification",
    "multi_witt_mao_magnification",
    "heyrovsky_magnification",
    "integrated_heyrovsky_magnification",
    "integrated_flux_map_heyrovsky_magnification",
    "discrete_flux_map_heyrovsky_magnification",
    "witt_mao_magnification_gradient",
    "integrated_heyrovsky_magnification_gradient",
    "integrated_flux_map_heyrovsky_magnification_gradient",
]

# One number: what float() accepts except strings (float, int, bool, NumPy
# scalars, Decimal, Fraction, objects with __float__ or __index__).
_Real = SupportsFloat | SupportsIndex

@type_check_only
class _RealSequence(Protocol):
    """Anything indexable by an int that yields numbers: list, tuple, range,
    numpy.ndarray, array.array, collections.deque, bytes, memoryview, ...

    The module walks it with the sequence protocol (iteration), converting
    every item as a number. A str is refused at run time with
    "Can't extract `str` to `Vec`", and its items are not numbers, so a str is
    refused here too. Sets, dicts, generators and iterators are refused at run
    time ("'set' object cannot be converted to 'Sequence'").
    """

    def __getitem__(self, index: int, /) -> _Real: ...

def witt_mao_magnification(l: _RealSequence, re: _Real, rstar: _Real) -> list[float]:
    """Magnification of a uniformly bright disk (Witt & Mao 1994), per separation.

    Parameters
    ----------
    l : sequence of numbers
        Lens-source separations in source radii (0 = lens at the centre of the
        source, 1 = lens on the limb). The separation in Einstein radii is
        u = l * rstar / re.
    re, rstar : number
        Einstein radius and source radius, in one and the same length unit.

    Returns
    -------
    list[float]
        One magnification per element of ``l``, in order. For large u it tends
        to the point-source value (u^2 + 2) / (u sqrt(u^2 + 4)).

    An element has NaN where the magnification has no value: a NaN, infinite or
    negative separation, and every element when ``re`` or ``rstar`` is 0 or
    NaN. Every separation keeps its own value however close it is to the
    limb; the closed limb value is returned for l = 1 exactly. The measured
    accuracy is in docs/accuracy.md.

    Raises
    ------
    TypeError
        An argument of the wrong kind ("argument 'l': ...").
    """

def integrated_witt_mao_magnification(l: _RealSequence, re: _Real, rstar: _Real) -> list[float]:
    """Magnification of a linearly limb-darkened source, built from uniform disks.

    The brightness at radius r (a fraction of the source radius) is
    P(r) = 1 - 0.6 (1 - sqrt(1 - r^2)), fixed. The source is taken as nested
    uniform disks: with M(r) the uniform-disk magnification of the concentric
    disk of radius r, the ring of radius r is magnified by M(r) + (r/2) M'(r),
    and the result is the brightness-weighted average of that over the source,

        integral_0^1 2 pi r (M + r M'/2) P dr / integral_0^1 2 pi r P dr.

    Parameters
    ----------
    l : sequence of numbers
        Lens-source separations in source radii.
    re, rstar : number
        Einstein radius and source radius, in one and the same length unit.

    Returns
    -------
    list[float]
        One magnification per element of ``l``, in order; NaN for an element
        that has no finite value (NaN, infinite or negative separation, ``re``
        or ``rstar`` 0 or NaN). The same quantity as
        ``integrated_heyrovsky_magnification`` by an independent route; that
        function is the more accurate and the faster one (docs/accuracy.md and
        docs/performance.md give the measured figures).

    Raises
    ------
    TypeError
        An argument of the wrong kind.
    """

def integrated_flux_map_witt_mao_magnification(
    l: _RealSequence, re: _Real, rstar: _Real, bl: _RealSequence, bf: _RealSequence
) -> list[float]:
    """Magnification of a source with a tabulated brightness profile, built from uniform disks.

    As ``integrated_witt_mao_magnification``, with the brightness P(r) the
    piecewise-linear function through the points (bl[j], bf[j]) and 0 outside
    [bl[0], bl[-1]] (a one-entry table is a uniformly bright source). ``bf``
    needs no normalisation: the result is divided by integral 2 pi r P(r) dr.

    Parameters
    ----------
    l : sequence of numbers
        Lens-source separations in source radii.
    re, rstar : number
        Einstein radius and source radius, in one and the same length unit.
    bl : sequence of numbers
        Radii of the table, as fractions of the source radius, ascending,
        within [0, 1]; a radius given twice makes a step in the profile.
    bf : sequence of numbers
        Brightness at those radii, in any unit; as long as ``bl``.

    Returns
    -------
    list[float]
        One magnification per element of ``l``, in order; NaN where it has no
        finite value, and everywhere when the profile is zero over the whole
        source (an empty table, all ``bf`` zero, radii outside [0, 1]).

    Raises
    ------
    TypeError
        An argument of the wrong kind.
    pyo3_runtime.PanicException
        ``bl`` and ``bf`` differ in length, before any work. It derives from
        BaseException, not Exception.
    """

def multi_witt_mao_magnification(
    l: _RealSequence, re: _RealSequence, rstar: _RealSequence
) -> list[list[float]]:
    """``witt_mao_magnification`` for every combination of an Einstein radius and a source radius.

    Parameters
    ----------
    l : sequence of numbers
        Lens-source separations in source radii, shared by every combination.
    re : sequence of numbers
        Einstein radii.
    rstar : sequence of numbers
        Source radii, in the unit of ``re``. ``re`` and ``rstar`` may differ in
        length.

    Returns
    -------
    list[list[float]]
        len(re) * len(rstar) lists: list k = i * len(rstar) + j holds
        ``witt_mao_magnification(l, re[i], rstar[j])``, bit for bit.

    Raises
    ------
    TypeError
        An argument of the wrong kind (a single number for ``re`` or ``rstar``
        included).
    """

def heyrovsky_magnification(l: _Real, r: _Real, re: _Real, rstar: _Real) -> float:
    """Magnification of one thin, uniformly bright ring of the source (Heyrovsky).

    The point-lens magnification averaged around the circle of radius ``r``
    centred on the source centre, with the lens at distance ``l`` from it.

    Parameters
    ----------
    l : number
        Lens-source separation in source radii.
    r : number
        Ring radius in source radii (0 = centre, 1 = limb).
    re, rstar : number
        Einstein radius and source radius, in one and the same length unit.

    Returns
    -------
    float
        The ring's magnification; ``inf`` for a ring through the lens
        (r = l >= 0), NaN for r = l without a lens (``re`` 0) or below zero.

    Raises
    ------
    TypeError
        An argument of the wrong kind.
    RuntimeError
        The elliptic integrals have no value for these arguments (a negative or
        NaN ``l`` or ``r``, ``rstar`` 0, ``re`` infinite); the
        message is the integral's own, e.g. "elliprj: Fail to converge".
    """

def integrated_heyrovsky_magnification(l: _RealSequence, re: _Real, rstar: _Real) -> list[float]:
    """Magnification of a linearly limb-darkened source, built from rings.

    The brightness at radius r (a fraction of the source radius) is
    P(r) = 1 - 0.6 (1 - sqrt(1 - r^2)), fixed. The result is the
    brightness-weighted average of the ring magnifications V(r) =
    ``heyrovsky_magnification(l, r, re, rstar)`` over the source,

        integral_0^1 2 pi r V(r) P(r) dr / integral_0^1 2 pi r P(r) dr.

    Parameters
    ----------
    l : sequence of numbers
        Lens-source separations in source radii.
    re, rstar : number
        Einstein radius and source radius, in one and the same length unit.

    Returns
    -------
    list[float]
        One magnification per element of ``l``, in order; NaN for an element
        that has no finite value (NaN, infinite or negative separation,
        ``rstar`` 0 or NaN).

    Raises
    ------
    TypeError
        An argument of the wrong kind.
    """

def integrated_flux_map_heyrovsky_magnification(
    l: _RealSequence, re: _Real, rstar: _Real, bl: _RealSequence, bf: _RealSequence
) -> list[float]:
    """Magnification of a source with a tabulated brightness profile, built from rings.

    As ``integrated_heyrovsky_magnification``, with the brightness P(r) the
    piecewise-linear function through the points (bl[j], bf[j]) and 0 outside
    [bl[0], bl[-1]] (a one-entry table is a uniformly bright source). ``bf``
    needs no normalisation: the result is divided by integral 2 pi r P(r) dr.

    Parameters
    ----------
    l : sequence of numbers
        Lens-source separations in source radii.
    re, rstar : number
        Einstein radius and source radius, in one and the same length unit.
    bl : sequence of numbers
        Radii of the table, as fractions of the source radius, ascending,
        within [0, 1]; a radius given twice makes a step in the profile.
    bf : sequence of numbers
        Brightness at those radii, in any unit; as long as ``bl``.

    Returns
    -------
    list[float]
        One magnification per element of ``l``, in order; NaN where it has no
        finite value, and everywhere when the profile is zero over the whole
        source (an empty table, all ``bf`` zero, radii outside [0, 1]).

    Raises
    ------
    TypeError
        An argument of the wrong kind.
    pyo3_runtime.PanicException
        ``bl`` and ``bf`` differ in length, before any work. It derives from
        BaseException, not Exception.
    """

def discrete_flux_map_heyrovsky_magnification(
    l: _RealSequence, re: _Real, rstar: _Real, bl: _RealSequence, bf: _RealSequence
) -> list[float]:
    """Weighted sum of ring magnifications: sum_j heyrovsky_magnification(l, bl[j], re, rstar) * bf[j].

    Nothing is normalised or interpolated: ``bf`` must already hold each
    ring's share of the flux (weights summing to 1 give a magnification).

    Parameters
    ----------
    l : sequence of numbers
        Lens-source separations in source radii.
    re, rstar : number
        Einstein radius and source radius, in one and the same length unit.
    bl : sequence of numbers
        Ring radii, as fractions of the source radius, in any order.
    bf : sequence of numbers
        Weight of each ring; as long as ``bl``.

    Returns
    -------
    list[float]
        One sum per element of ``l``, in order; 0.0 for empty tables, ``inf``
        where a ring passes through the lens.

    Raises
    ------
    TypeError
        An argument of the wrong kind.
    RuntimeError
        A ring magnification has no value (see ``heyrovsky_magnification``);
        the whole call fails with the first such message.
    pyo3_runtime.PanicException
        ``bl`` and ``bf`` differ in length, before any work. It derives from
        BaseException, not Exception.
    """

def witt_mao_magnification_gradient(l: _RealSequence, re: _Real, rstar: _Real) -> list[list[float]]:
    """``witt_mao_magnification`` with its exact derivatives, for fitting.

    With u = l * rstar / re the separation and rho = rstar / re the source
    radius, both in Einstein radii, returns A(u, rho), its derivative in u at
    fixed rho and its derivative in rho at fixed u, from the same elliptic
    integrals as A (far from the source, the same series differentiated term
    by term). These are the derivatives a light-curve model in (t0, u0, tE,
    rho) needs; docs/guide.md gives the chain rule.

    Parameters
    ----------
    l : sequence of numbers
        Lens-source separations in source radii.
    re, rstar : number
        Einstein radius and source radius, in one and the same length unit.

    Returns
    -------
    list[list[float]]
        Three lists ``[A, dA_du, dA_drho]``, each as long as ``l`` and in its
        order. ``A`` is ``witt_mao_magnification(l, re, rstar)`` bit for bit.

    Both derivatives diverge logarithmically at the limb (u = rho): near it
    they are finite and keep their accuracy, and for l = 1 exactly
    ``dA_du`` is ``-inf`` and ``dA_drho`` is ``+inf``, their limits from
    either side. Their sum, the derivative with the source's near edge kept
    on the lens, stays finite there. Where A is NaN (a NaN, infinite or
    negative separation, ``re`` or ``rstar`` 0 or NaN) both derivatives are
    NaN. The measured accuracy is in docs/accuracy.md.

    Raises
    ------
    TypeError
        An argument of the wrong kind ("argument 'l': ...").
    """

def integrated_heyrovsky_magnification_gradient(l: _RealSequence, re: _Real, rstar: _Real) -> list[list[float]]:
    """``integrated_heyrovsky_magnification`` with its exact derivatives, for fitting.

    The linearly limb-darkened source (coefficient 0.6) with its derivatives
    in u at fixed rho and in rho at fixed u (u = l * rstar / re, rho =
    rstar / re, in Einstein radii), from the same rings as A and their cosine
    moments (far from the source, the same series differentiated term by
    term). The linear law of any other coefficient, and its derivative in the
    coefficient, follow from this and ``witt_mao_magnification_gradient``
    (docs/guide.md).

    Parameters
    ----------
    l : sequence of numbers
        Lens-source separations in source radii.
    re, rstar : number
        Einstein radius and source radius, in one and the same length unit.

    Returns
    -------
    list[list[float]]
        Three lists ``[A, dA_du, dA_drho]``, each as long as ``l`` and in its
        order. ``A`` is ``integrated_heyrovsky_magnification(l, re, rstar)``
        bit for bit.

    The source's edge is bright (0.4 of its centre), so both derivatives
    diverge logarithmically at the limb: for l = 1 exactly ``dA_du`` is
    ``-inf`` and ``dA_drho`` is ``+inf``, their limits from either side.
    Where A is NaN, or ``rstar / re`` is not a positive finite number, both
    derivatives are NaN. The measured accuracy is in docs/accuracy.md.

    Raises
    ------
    TypeError
        An argument of the wrong kind.
    """

def integrated_flux_map_heyrovsky_magnification_gradient(
    l: _RealSequence, re: _Real, rstar: _Real, bl: _RealSequence, bf: _RealSequence
) -> list[list[float]]:
    """``integrated_flux_map_heyrovsky_magnification`` with its exact derivatives.

    The tabulated profile of ``integrated_flux_map_heyrovsky_magnification``
    with the derivatives of ``integrated_heyrovsky_magnification_gradient``.
    Each step of the profile (its first and last radius, where it jumps from
    or to 0, and a radius given twice) makes both derivatives diverge
    logarithmically when the lens lies on it, to infinities there.

    Parameters
    ----------
    l : sequence of numbers
        Lens-source separations in source radii.
    re, rstar : number
        Einstein radius and source radius, in one and the same length unit.
    bl, bf : sequence of numbers
        The table, as for ``integrated_flux_map_heyrovsky_magnification``.

    Returns
    -------
    list[list[float]]
        Three lists ``[A, dA_du, dA_drho]``, each as long as ``l`` and in its
        order. ``A`` is ``integrated_flux_map_heyrovsky_magnification(l, re,
        rstar, bl, bf)`` bit for bit. Both derivatives are NaN where A is NaN,
        where ``rstar / re`` is not a positive finite number, and everywhere for
        a table whose radii decrease somewhere or that holds a value that is
        not finite.

    Raises
    ------
    TypeError
        An argument of the wrong kind.
    pyo3_runtime.PanicException
        ``bl`` and ``bf`` differ in length, before any work. It derives from
        BaseException, not Exception.
    """

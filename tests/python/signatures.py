"""The module's eight functions and their parameters, shared by the surface tests."""

# name -> (parameter, kind) in order; "seq" is a sequence of floats, "float" one float
SIGNATURES = {
    "witt_mao_magnification": (("l", "seq"), ("re", "float"), ("rstar", "float")),
    "integrated_witt_mao_magnification": (("l", "seq"), ("re", "float"), ("rstar", "float")),
    "integrated_flux_map_witt_mao_magnification": (
        ("l", "seq"), ("re", "float"), ("rstar", "float"), ("bl", "seq"), ("bf", "seq")),
    "multi_witt_mao_magnification": (("l", "seq"), ("re", "seq"), ("rstar", "seq")),
    "heyrovsky_magnification": (("l", "float"), ("r", "float"), ("re", "float"), ("rstar", "float")),
    "integrated_heyrovsky_magnification": (("l", "seq"), ("re", "float"), ("rstar", "float")),
    "integrated_flux_map_heyrovsky_magnification": (
        ("l", "seq"), ("re", "float"), ("rstar", "float"), ("bl", "seq"), ("bf", "seq")),
    "discrete_flux_map_heyrovsky_magnification": (
        ("l", "seq"), ("re", "float"), ("rstar", "float"), ("bl", "seq"), ("bf", "seq")),
}


def valid_arguments(name):
    """Arguments that bind and convert (bl and bf of equal length)."""
    return [[0.5] if kind == "seq" else 0.5 for _, kind in SIGNATURES[name]]

import zorvane


def test_module_docstring():
    assert zorvane.__doc__ == "A Python module implemented in C++."

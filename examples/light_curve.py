"""Placeholder example: the magnification functions arrive with the models."""
import zorvane

print(zorvane.__doc__)

"""``python -m velaro``: the ``velaro`` command."""

from .cli import run

if __name__ == "__main__":
    run()

// A shared library made only of whole static archives still needs one source of its own.

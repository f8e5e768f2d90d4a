# Run controller tests.

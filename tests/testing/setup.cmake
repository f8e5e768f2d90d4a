# Setup sheet tests.

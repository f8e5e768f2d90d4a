# The run controller and template runs.

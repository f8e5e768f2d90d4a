# The setup sheet and its validation.

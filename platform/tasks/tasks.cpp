// Filled in by the task runtime implementation.

// Filled in by the library's own change.

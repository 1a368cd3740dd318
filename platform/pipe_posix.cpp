// Filled in by the platform's own change.

// Placeholder until the meter model lands.

// Placeholder until the strip chart lands.
